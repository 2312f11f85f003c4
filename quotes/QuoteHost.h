#pragma once
// What the quote handler and its tables need from the receive controller
// that owns them: the table objects, the configuration, the program's
// version date, and the few calls back into the station (stop for an
// invalid version, upgrade available, reconnect the TCP session). The
// controller implements it; tests implement it to observe the calls.
#include <cstdint>

#include "config/CRcvConf.h"
#include "dbf/CDbf.h"
#include "quotes/QuoteTables.h"

class QuoteHost {
public:
    virtual ~QuoteHost() = default;

    // The controller's table object for a table (given its schema before the
    // first opening); used only on the quote handler's thread.
    virtual CDbf& quoteTable(QuoteTableId id) = 0;
    // The configuration the station runs with (dwFlag, szTYOpenFlagFile,
    // the rcv* switches).
    virtual const CRcvConf& config() const = 0;
    // The program's version date, yyyymmdd.
    virtual int32_t GetVersionDate() = 0;
    // The master station refuses this version: the station must stop.
    virtual void ReportInvalidVersion() = 0;
    // A newer program version exists: a received upgrade is installed at exit.
    virtual void SetNewVersionAvailable() = 0;
    // Non-public trades went wrong: drop the TCP connection and move on to
    // the next server. No effect without a TCP session.
    virtual void ReconnectTcp() = 0;
};
