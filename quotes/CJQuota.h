#pragma once
// The non-public trade table NQFGKCJXX.DBF: an append-only journal in which
// record n holds trade number n and record 0 is the special record. We accept
// trades only in exact number order; any break in the sequence and any failed
// write sets our position back to what the file really holds and renews the
// TCP connection, so the master station resends from the trade we expect (the
// number we report when we subscribe). Trades already in the file are never
// written twice, because lower numbers are skipped.
//
// Runs on the quote handler's worker thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "controller/Packet.h"
#include "dbf/CDbf.h"
#include "quotes/QuoteContext.h"
#include "quotes/QuoteRecords.h"

class CJQuota {
  public:
    // Records read per ReadRecords call when verifying the file.
    static constexpr uint32_t kVerifyBlock = 5000;
    static constexpr size_t kImageLength = QuoteTable(kNqfgkcjxx).recordLength;

    // The context gives ReconnectTcp and the data times, and holds our
    // position: the trade table's published record count, which is also the
    // number of the next trade expected.
    explicit CJQuota(QuoteContext& context);
    CJQuota(const CJQuota&) = delete;
    CJQuota& operator=(const CJQuota&) = delete;

    // Opens the table file at path with the controller's table object and
    // verifies it. 0, or -1 with the failure logged (a wrong special record
    // is shown in a box).
    int open(CDbf& table, const std::string& path);
    // The number of leading records whose trade number equals their record
    // number; -1 when no table is attached.
    int32_t verify();
    // One trade packet (type 27), decoded.
    void onPacket(const Packet& packet);

    int32_t nextTradeNo() const { return context_.tableCount(kNqfgkcjxx); }

  private:
    void resynchronise();
    void setNext(int32_t n) { context_.setTableCount(kNqfgkcjxx, n); }

    QuoteContext& context_;
    CDbf* table_ = nullptr;
    std::string path_;
    // Images of trades accepted but not yet appended, back to back.
    std::vector<char> pending_;
    uint32_t pendingCount_ = 0;
    bool reportedUnopened_ = false;
};
