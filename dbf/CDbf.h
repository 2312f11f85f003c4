#pragma once
// One DBF table as the station publishes it. Trading systems read the file
// while we write it, so the file is opened shared and never locked, and every
// write path is ordered so that a reader never sees a record count larger
// than the data behind it.
//
// File layout (little-endian):
//   32-byte header: 0x03, year mod 100, month, day, record count (u32),
//                   header length (u16) = 32 * fields + 33,
//                   record length (u16) = last offset + last width, 20 zeros
//   one 32-byte descriptor per field: name (11 bytes, zero padded), type,
//                   offset in the record (i32), width, decimals, 14 zeros
//   0x0D, then the records at header length, each record length bytes
//   (byte 0 the deletion flag), optionally one 0x1A after the last record.
//
// Results: 0 on success, -1 for a failure the table detected itself, or the
// errno of the file error that ended the operation (the table is then closed
// through HandleFileError and reopened by the next operation that may).
//
// A table is used by one thread at a time (the quote handler's).
#include <atomic>
#include <cstdint>
#include <string>

#include "dbf/CDbfFieldDef.h"
#include "platform/File.h"

// Consecutive failed WriteRecNum attempts, counted over all tables together;
// a successful WriteRecNum sets it back to 0.
extern std::atomic<int> tableWriteFailures;

class CDbf {
  public:
    static constexpr uint8_t kVersion = 0x03;
    static constexpr uint8_t kHeaderEnd = 0x0D;
    static constexpr uint8_t kEndOfFile = 0x1A;
    static constexpr size_t kHeaderSize = 32;
    static constexpr size_t kDescriptorSize = 32;
    static constexpr size_t kNameBytes = 11;        // stored in a descriptor
    static constexpr size_t kMatchChars = 10;       // compared when opening
    static constexpr uint32_t kAppendBlock = 1000;  // records per append write
    static constexpr int kLockRetries = 60;         // WriteRecord waits out 61
    static constexpr int kErrorRetries = 5;
    static constexpr int kAttempts = 5;  // UpdateField, AppendRecord, ReadRecords
    static constexpr int kWriteRecNumFailures = 5;
    static constexpr uint32_t kRetryPauseMs = 15;
    static constexpr size_t kCopyChunk = 16384;

    CDbf() = default;
    explicit CDbf(const DbfSchema& schema) : fields(schema) {}
    virtual ~CDbf();
    CDbf(const CDbf&) = delete;
    CDbf& operator=(const CDbf&) = delete;

    // --- table lifecycle --------------------------------------------------
    // Opens the table at path and checks it against the schema (the table's
    // own when schema is null). A missing file is created; a file whose
    // header is not dated today is emptied and recreated.
    int OpenDB(const std::string& path, const DbfSchema* schema = nullptr);
    // Creates (or truncates) the file and writes a fresh header; offsets
    // that do not follow from the widths are corrected and logged.
    int CreatDB(const std::string& path, const DbfSchema* schema = nullptr);
    // Forgets the open state: closes the file, recomputes the offsets from
    // the widths and clears the header copies.
    int ClearStatus();
    // Closes the file; isOpen is kept, so a write reopens it.
    int Close();
    // Closes and reopens the file (position at the start) and marks it open.
    int CloseAndOpen();
    // Forces written data to disk; -1 when the file is closed.
    int Flush();
    // Flush without a result, for callers that do not care.
    void WriteToDisk();
    // Copies the table byte for byte to "<path without extension>_<n>.DBF".
    int SnapshotDB(int n);
    // The common reaction to a file error: ClearStatus, log, return errno.
    int HandleFileError(platform::FileError error);
    // First field at 1, each next one where the previous ends.
    void ResetFieldOffsets();

    // --- record I/O -------------------------------------------------------
    // Record count from the header. A table that cannot be opened gives 0
    // and leaves count unchanged.
    int ReadRecNum(uint32_t& count);
    // Writes the count, then cuts the file to exactly that many records.
    int WriteRecNum(uint32_t count);
    // Reads at most length bytes (never more than the field's width) of one
    // field; length becomes the number of bytes read.
    int ReadField(uint32_t recordNo, uint16_t fieldIndex, void* buffer, uint32_t& length);
    // Writes length bytes at the start of record recordNo (a whole record or
    // a block of consecutive records); waits out locks held by readers.
    int WriteRecord(uint32_t recordNo, const void* data, uint32_t length);
    // Overwrites an existing record with recordLength bytes.
    int UpdateRecord(uint32_t recordNo, const void* data);
    // Overwrites one field of an existing record (length <= width).
    int UpdateField(uint32_t recordNo, uint16_t fieldIndex, const void* data, uint32_t length);
    // Appends count record images: the records, 0x1A, then the new count.
    int AppendRecord(const void* data, uint32_t count);
    // Reads count records into buffer (count * recordLength bytes).
    int ReadRecords(uint32_t firstRecordNo, uint32_t count, void* buffer);

    // --- state (written only by the table's own operations) ----------------
    platform::File file;
    std::string path;
    DbfSchema fields;
    bool isOpen = false;
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    int32_t headerDate = 0;  // yyyymmdd of the open file's header

  private:
    int64_t RecordOffset(uint32_t recordNo) const {
        return int64_t(headerLength) + int64_t(recordLength) * int64_t(recordNo);
    }
    int EnsureOpen();
    int VerifyStructure(const uint8_t* header);
    void MatchDescriptors(const uint8_t* table, size_t count);
    void ReportMissingFields();
    bool CheckSchemaLimits();
    int CopyTableTo(platform::File& copy);
    bool WriteCountAndCut(uint32_t count);
    bool WriteAt(int64_t offset, const void* data, size_t length);
    bool AppendAttempt(const uint8_t* data, uint32_t base, uint32_t count);
    // The five-attempt shape of UpdateField, AppendRecord and ReadRecords;
    // attempt() returns 0 (done), -1 (failed, no retry) or 1 (file error).
    template <typename Attempt>
    int RetryAttempts(const char* errorMessage, const char* finalMessage, Attempt attempt);
};
