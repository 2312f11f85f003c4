#pragma once
// The start-up check of a table's special record: record 0 identifies a file
// as one of the station's tables, so a file whose record 0 is an ordinary
// security must not be written into.
#include <string>

#include "dbf/CDbf.h"
#include "quotes/QuoteTables.h"

// 0 when record 0 of the open table carries "000000" in its security code
// field (and, for the declaration tables, a space in its status field); -1
// otherwise. Read errors are logged under the table family's module; a wrong
// special record is not logged, the caller reports it with the box below.
// Called only for a table that holds records.
int CheckSpecialRecord(CDbf& table, QuoteTableId id);

// The modal error box for a table whose special record is wrong; blocks until
// the operator closes it.
void ShowSpecialRecordError(const std::string& path);
