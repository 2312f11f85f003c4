// Record reads and writes of a table. The tables live on local or network
// disk and trading systems read them (and may lock parts of them) while we
// write, so every write path retries in a fixed, bounded way and logs each
// step. Reads and writes are positioned: one system call per block, no seek.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "dbf/CDbf.h"
#include "dbf/DbfBytes.h"
#include "platform/Clock.h"
#include "runtime/SimpleLogger.h"

std::atomic<int> tableWriteFailures{0};

namespace {

constexpr const char* kModule = "Dbf";
constexpr int64_t kCountOffset = 4;
constexpr uint64_t kMaxRecords = std::numeric_limits<uint32_t>::max();

}  // namespace

int CDbf::EnsureOpen() {
    if (isOpen) return 0;
    return OpenDB(path, nullptr);
}

// --- record count ------------------------------------------------------------

int CDbf::ReadRecNum(uint32_t& count) {
    if (EnsureOpen() != 0) return 0;
    uint8_t bytes[4];
    size_t got = 0;
    if (!file.readAt(kCountOffset, bytes, sizeof bytes, &got)) return HandleFileError(file.error());
    if (got != sizeof bytes) {
        // Someone cut the file below its header since we opened it.
        velk::log(kModule, velk::LevelError, "读取 DBF 库 %s 的记录数时出错：文件头不完整！",
                  path.c_str());
        return -1;
    }
    count = dbfbytes::LoadU32(bytes);
    return 0;
}

bool CDbf::WriteCountAndCut(uint32_t count) {
    uint8_t bytes[4];
    dbfbytes::StoreU32(bytes, count);
    // The smaller count first, then the cut: a reader never sees a count
    // larger than the data.
    return file.writeAt(kCountOffset, bytes, sizeof bytes) && file.setLength(RecordOffset(count));
}

int CDbf::WriteRecNum(uint32_t count) {
    if (EnsureOpen() != 0) return -1;
    for (;;) {
        if (WriteCountAndCut(count)) {
            tableWriteFailures = 0;
            return 0;
        }
        platform::FileError error = file.error();
        if (tableWriteFailures >= kWriteRecNumFailures) return HandleFileError(error);

        file.close();
        platform::FileError openError = error;
        bool reopened = false;
        while (tableWriteFailures < kWriteRecNumFailures) {
            ++tableWriteFailures;
            if (file.open(path)) {
                reopened = true;
                break;
            }
            openError = file.error();
        }
        if (!reopened) return HandleFileError(openError);
        velk::log(kModule, velk::LevelError,
                  "在模块 WriteRecNum()中发生文件：%s 操作第%d 次错误，错误码:%d ,将尝试继续写数据",
                  path.c_str(), tableWriteFailures.load(), error.osError);
    }
}

// --- single fields and records -------------------------------------------------

int CDbf::ReadField(uint32_t recordNo, uint16_t fieldIndex, void* buffer, uint32_t& length) {
    if (EnsureOpen() != 0) return -1;
    if (fieldIndex >= fields.size() || (buffer == nullptr && length > 0)) {
        velk::log(kModule, velk::LevelError, "在模块 ReadField()中，输入参数错误");
        return -1;
    }
    const CDbfFieldDef& f = fields[fieldIndex];
    uint32_t wanted = std::min<uint32_t>(length, f.width);
    size_t got = 0;
    if (!file.readAt(RecordOffset(recordNo) + f.offset, buffer, wanted, &got)) {
        return HandleFileError(file.error());
    }
    length = uint32_t(got);
    return 0;
}

bool CDbf::WriteAt(int64_t offset, const void* data, size_t length) {
    // After an error the file was closed: the retry opens it again, without
    // checking the table again.
    if (!file.isOpen() && !file.open(path)) return false;
    return file.writeAt(offset, data, length);
}

int CDbf::WriteRecord(uint32_t recordNo, const void* data, uint32_t length) {
    if (EnsureOpen() != 0) return -1;
    if (data == nullptr && length > 0) {
        velk::log(kModule, velk::LevelError, "在模块 WriteRecord()中，输入参数错误");
        return -1;
    }
    uint32_t start = platform::TickCount();
    int lockRetries = 0;
    int errorRetries = 0;
    for (;;) {
        if (WriteAt(RecordOffset(recordNo), data, length)) return 0;
        platform::FileError error = file.error();

        if (error.cause == platform::FileCause::NetworkLost) {
            velk::log(kModule, velk::LevelError,
                      "在WriteRecord()模块中，文件操作失败，指定网络名 %s "
                      "不再可用，请检查网络是否有故障",
                      error.fileName.c_str());
            return HandleFileError(error);
        }
        if (error.cause == platform::FileCause::LockViolation) {
            if (lockRetries++ <= kLockRetries) {
                platform::SleepMs(kRetryPauseMs);
                continue;
            }
            velk::log(kModule, velk::LevelError,
                      "在模块 WriteRecord()中， %s 文件被锁定时间过长！重试 %lu "
                      "毫秒后仍未能写入成功！",
                      error.fileName.c_str(),
                      static_cast<unsigned long>(platform::TickCount() - start));
            return HandleFileError(error);
        }
        if (errorRetries >= kErrorRetries) {
            velk::log(kModule, velk::LevelError,
                      "在模块 WriteRecord()中发生文件操作错误，多次尝试打开文件 %s "
                      "失败，错误码为： %d ，当前数据将丢失！",
                      path.c_str(), error.osError);
            return HandleFileError(error);
        }
        file.close();
        ++errorRetries;
        velk::log(kModule, velk::LevelError,
                  "在模块 WriteRecord()中发生文件：%s 操作第%d 次错误，错误码:%d ,将尝试继续写数据",
                  path.c_str(), errorRetries, error.osError);
        platform::SleepMs(kRetryPauseMs);
    }
}

int CDbf::UpdateRecord(uint32_t recordNo, const void* data) {
    uint32_t count = 0;
    int result = ReadRecNum(count);
    if (result != 0) return result;
    // ReadRecNum gives 0 without a count when the table cannot be opened;
    // that failure was reported by OpenDB already.
    if (!isOpen) return -1;
    if (recordNo < count) return WriteRecord(recordNo, data, recordLength);
    velk::log(kModule, velk::LevelError,
              "在模块 UpdateRecord()中，recordNo=%u, 超出DBF文件现有的总条数%u，记录无法更新。",
              recordNo, count);
    return -1;
}

// --- operations with five attempts ---------------------------------------------

template <typename Attempt>
int CDbf::RetryAttempts(const char* errorMessage, const char* finalMessage, Attempt attempt) {
    for (int n = 0; n < kAttempts; ++n) {
        // A half-open table (fields missing) has its file open but is not
        // usable: it is opened and checked again, never written blindly.
        if (!isOpen || !file.isOpen()) {
            if (OpenDB(path, nullptr) != 0) {
                velk::log(kModule, velk::LevelError, "打开%s失败,第%d次尝试...", path.c_str(), n);
                continue;
            }
        }
        int result = attempt();
        if (result <= 0) return result;
        platform::FileError error = file.error();
        velk::log(kModule, velk::LevelError, errorMessage, error.osError);
        HandleFileError(error);
    }
    velk::log(kModule, velk::LevelError, "%s", finalMessage);
    return -1;
}

int CDbf::UpdateField(uint32_t recordNo, uint16_t fieldIndex, const void* data, uint32_t length) {
    if (!isOpen) return -1;
    uint32_t count = 0;
    int result = ReadRecNum(count);
    if (result != 0) return result;
    if (recordNo >= count || fieldIndex >= fields.size() || length > fields[fieldIndex].width ||
        (data == nullptr && length > 0)) {
        velk::log(kModule, velk::LevelError, "在模块 UpdateField()中，输入参数错误");
        return -1;
    }
    return RetryAttempts("在模块 UpdateField()中，文件操作错误，错误码是%d",
                         "在模块 UpdateField()中，多次尝试写入失败", [&] {
                             int64_t at = RecordOffset(recordNo) + fields[fieldIndex].offset;
                             return file.writeAt(at, data, length) ? 0 : 1;
                         });
}

int CDbf::AppendRecord(const void* data, uint32_t count) {
    if (!isOpen) return -1;
    uint32_t base = 0;
    // Without the count we do not know where the table ends; appending at a
    // guess would overwrite records.
    int result = ReadRecNum(base);
    if (result != 0) return result;
    if (uint64_t(base) + count > kMaxRecords || (data == nullptr && count > 0)) {
        velk::log(kModule, velk::LevelError, "在模块 AppendRecord()中，输入参数错误");
        return -1;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    // Every attempt starts again from the same base: a retried append writes
    // the same records at the same place and the same new count.
    return RetryAttempts("在模块 AppendRecord()中，文件操作错误，错误码是%d",
                         "在模块 AppendRecord()中，多次尝试写入失败",
                         [&] { return AppendAttempt(bytes, base, count) ? 0 : 1; });
}

bool CDbf::AppendAttempt(const uint8_t* data, uint32_t base, uint32_t count) {
    const size_t stride = recordLength;
    int64_t at = RecordOffset(base);
    for (uint32_t done = 0; done < count;) {
        uint32_t block = std::min(count - done, kAppendBlock);
        size_t bytes = stride * block;
        if (!file.writeAt(at, data + stride * done, bytes)) return false;
        at += int64_t(bytes);
        done += block;
    }
    // Records and end mark first, the count last: a reader that sees the new
    // count finds the records behind it.
    const uint8_t eof = kEndOfFile;
    if (!file.writeAt(at, &eof, 1)) return false;
    uint8_t newCount[4];
    dbfbytes::StoreU32(newCount, base + count);
    return file.writeAt(kCountOffset, newCount, sizeof newCount);
}

int CDbf::ReadRecords(uint32_t firstRecordNo, uint32_t count, void* buffer) {
    if (!isOpen) return -1;
    uint32_t total = 0;
    int result = ReadRecNum(total);
    if (result != 0) return result;
    if (uint64_t(firstRecordNo) + count > total || (buffer == nullptr && count > 0)) {
        velk::log(kModule, velk::LevelError, "在模块 ReadRecords()中，输入参数错误");
        return -1;
    }
    const size_t wanted = size_t(recordLength) * count;
    return RetryAttempts("在模块 ReadRecords()中，文件操作错误，错误码是%d",
                         "在模块 ReadRecords()中，多次尝试读取失败", [&] {
                             size_t got = 0;
                             if (!file.readAt(RecordOffset(firstRecordNo), buffer, wanted, &got)) {
                                 return 1;
                             }
                             if (got == wanted) return 0;
                             // The header counts records the file does not
                             // hold: the caller must not take stale bytes for
                             // them.
                             velk::log(kModule, velk::LevelError,
                                       "在模块 ReadRecords()中，文件 %s 的数据不足：应读 %zu "
                                       "字节，实读 %zu 字节！",
                                       path.c_str(), wanted, got);
                             return -1;
                         });
}
