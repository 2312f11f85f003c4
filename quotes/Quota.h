#pragma once
// A snapshot table (NQHQ.DBF, NQXX.DBF, NQZSXX.DBF): the master station
// numbers its snapshot record by record, record n of the snapshot being
// record n of the table and record 0 the special record, and sends it over
// and over in rounds that end with record 0.
//
// The whole table is kept in memory as an array of binary records. Nothing
// reaches the file before a first complete snapshot has arrived; then the
// whole table is written once, and from then on only the range of records
// that changed (after every packet, or once per round with savePerRound).
// After the market's close mark (NQHQ.DBF only) the whole table is written
// again: when a complete snapshot has arrived since the mark, and at the
// latest about once a minute while records keep coming.
//
// Used by the quote handler's thread alone.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "controller/Packet.h"
#include "dbf/CDbf.h"
#include "quotes/QuoteContext.h"
#include "quotes/QuoteRecords.h"

// What is particular to each snapshot table's packets and writes.
template <typename T>
struct SnapshotTableTraits;
template <>
struct SnapshotTableTraits<SnapshotRec_t> {
    static constexpr size_t kHeaderBytes = 4;     // totalCount
    static constexpr size_t kBlockRecords = 179;  // 63,724 bytes per write call
};
template <>
struct SnapshotTableTraits<ZqxxRec_t> {
    static constexpr size_t kHeaderBytes = 8;     // totalCount, 4 bytes not read
    static constexpr size_t kBlockRecords = 239;  // 63,813 bytes
};
template <>
struct SnapshotTableTraits<NQZSXX_OrderRec_t> {
    static constexpr size_t kHeaderBytes = 8;
    static constexpr size_t kBlockRecords = 1422;  // 63,990 bytes
};

template <typename T>
class Quota {
  public:
    using Traits = SnapshotTableTraits<T>;
    static constexpr QuoteTableId kTable = QuoteRecordTraits<T>::table;
    static constexpr size_t kHeaderBytes = Traits::kHeaderBytes;
    static constexpr size_t kEntryBytes = 4 + sizeof(T);  // recordNo, record
    static constexpr size_t kBlockRecords = Traits::kBlockRecords;
    static constexpr size_t kRecordBytes = kImageLength<T>;
    // The largest record count a round may announce. The master station sends
    // a few ten thousand records per table; a count beyond this is a damaged
    // packet, and the in-memory table is not resized for it.
    static constexpr int32_t kMaxRecords = 1000000;
    // After the close mark the whole table is rewritten at the latest this
    // long after the previous whole-table write.
    static constexpr uint32_t kCloseRewriteMs = 60000;
    static constexpr int32_t kNothingHigh = INT32_MIN;
    static constexpr int32_t kNothingLow = INT32_MAX;

    explicit Quota(QuoteContext& context);
    Quota(const Quota&) = delete;
    Quota& operator=(const Quota&) = delete;

    // Opens the table object at path and checks its special record; 0 or -1
    // (logged, or shown in the special-record box).
    int open(CDbf& table, const std::string& path);
    // One snapshot packet of the table's type.
    void onPacket(const Packet& packet);
    // Stores record r and writes what the table's state calls for; 0 or a
    // failure code (-1 for a record number outside the table).
    int storeRecord(int32_t r, const T& record, bool closeMark, bool isLast);
    // Records 1.., then the special record, then the count; closes and
    // reopens the table.
    int writeAll();
    // The records changed since the last range write.
    int writeRange();
    // Records first .. first + count - 1, in blocks of kBlockRecords.
    int writeRecords(int32_t first, int32_t count);

    // --- state, for the handler's status and for tests ----------------------
    bool isOpen() const { return table_ != nullptr; }
    bool firstRound() const { return firstRound_; }
    bool closed() const { return closed_; }
    // After a change of the record count: a whole snapshot of the new size is
    // awaited before anything is written again.
    bool reloading() const { return reloading_; }
    int32_t expectedCount() const { return expectedCount_; }
    int32_t fileCount() const { return fileCount_; }
    int32_t dirtyLow() const { return dirtyLow_; }
    int32_t dirtyHigh() const { return dirtyHigh_; }
    int32_t firstRoundReceived() const { return firstRoundReceived_; }
    int32_t closeReceived() const { return closeReceived_; }
    bool closeCopySaved() const { return closeCopySaved_; }
    int32_t tableId() const { return tableId_; }
    std::span<const CQuotaRec<T>> records() const { return records_; }

  private:
    bool acceptCount(int32_t totalCount);
    bool resize(int32_t count);
    void dropEntry(int32_t r, bool isLast);
    void saveCopy(const char* kind, const char* doneText) const;
    void resetDirty() {
        dirtyHigh_ = kNothingHigh;
        dirtyLow_ = kNothingLow;
    }

    bool firstRound_ = true;
    bool closed_ = false;
    CDbf* table_ = nullptr;
    int32_t dirtyHigh_ = kNothingHigh;
    int32_t dirtyLow_ = kNothingLow;
    int32_t fileCount_ = 0;
    int32_t expectedCount_ = 0;
    int32_t firstRoundReceived_ = 0;
    int32_t closeReceived_ = 0;
    uint32_t closeTick_ = 0;
    std::vector<CQuotaRec<T>> records_;
    int32_t tableId_ = 6;
    bool closeCopySaved_ = false;
    bool reloading_ = false;

    QuoteContext& context_;
    std::string path_;
    std::vector<char> block_;  // one write call's worth of record images
};

extern template class Quota<SnapshotRec_t>;
extern template class Quota<ZqxxRec_t>;
extern template class Quota<NQZSXX_OrderRec_t>;
