#include "quotes/Quota.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Clock.h"
#include "quotes/NumberFormat.h"
#include "quotes/TableCheck.h"
#include "runtime/RunParams.h"
#include "runtime/SimpleLogger.h"
#include "runtime/Util.h"

namespace {

constexpr const char* kHandlerModule = "TyQuotaHandler";
constexpr const char* kQuotaModule = "Quota";

// The operator's texts of one table.
struct SnapshotTexts {
    const char* fileName;
    const char* openFailure;        // path
    const char* countChange;        // previous, new
    const char* recordNumbers;      // followed by " %d " per entry
    const char* processingFailure;  // no arguments
    const char* wholeWriteTime;     // milliseconds
    const char* rangeWriteTime;     // path, first, last, milliseconds
    const char* endOfRound;         // nullptr: the table has none
};

template <typename T>
const SnapshotTexts& TextsOf();

template <>
const SnapshotTexts& TextsOf<SnapshotRec_t>() {
    static constexpr SnapshotTexts kTexts = {
        "NQHQ.DBF",
        "打开证券行情库%s失败",
        "前后两次收到行情条数不一致，上一轮：%d, 本轮：%d",
        "收到协议转让证券行情包，记录号为",
        "处理协议转让证券行情包时出错！",
        "写证券行情库共耗费 %d 毫秒",
        "写证券行情 %s 第 %d 条记录到第 %d 条记录共耗费 %d 毫秒",
        "接收到新的一轮证券行情",
    };
    return kTexts;
}

template <>
const SnapshotTexts& TextsOf<ZqxxRec_t>() {
    static constexpr SnapshotTexts kTexts = {
        "NQXX.DBF",
        "读取证券信息库%s失败",
        "前后两次收到证券信息条数不一致，上一轮：%d, 本轮：%d",
        "收到证券信息包，记录号为",
        "处理证券信息时出错！",
        "写证券信息库共耗费 %d 毫秒",
        "写证券信息 %s 第 %d 条记录到第 %d 条记录共耗费 %d 毫秒",
        "接收到新的一轮证券信息",
    };
    return kTexts;
}

template <>
const SnapshotTexts& TextsOf<NQZSXX_OrderRec_t>() {
    static constexpr SnapshotTexts kTexts = {
        "NQZSXX.DBF",
        "打开做市转让申报信息库%s失败",
        "前后两次收到做市信息条数不一致，上一轮：%d, 本轮：%d",
        "收到做市转让申报信息包，记录号为",
        "处理做市转让申报信息时出错！",
        "写做市转让申报信息库共耗费 %d 毫秒",
        "写做市转让申报信息 %s 第 %d 条记录到第 %d 条记录共耗费 %d 毫秒",
        nullptr,
    };
    return kTexts;
}

// The time guard on a special record: the record leaves with the time it may
// carry; the result is the time it arrived with.
uint32_t GuardTime(QuoteTimes& times, SnapshotRec_t& rec) {
    const uint32_t carried = uint32_t(int32_t(rec.HQCJBS));
    rec.HQCJBS = int32_t(times.guard(kNqhq, carried));
    return carried;
}

uint32_t GuardTime(QuoteTimes& times, ZqxxRec_t& rec) {
    // hhmmss and hundredths in the first 8 characters of XXYWJC.
    const uint32_t carried = uint32_t(ParseDecimalField(rec.XXYWJC, 8));
    times.guardText(kNqxx, rec.XXYWJC, 8);
    return carried;
}

uint32_t GuardTime(QuoteTimes& times, NQZSXX_OrderRec_t& rec) {
    const uint32_t carried = uint32_t(ParseDecimalField(rec.ZSWTSJ, sizeof rec.ZSWTSJ));
    times.guardText(kNqzsxx, rec.ZSWTSJ, sizeof rec.ZSWTSJ);
    return carried;
}

// The market's close mark rides on the special record of NQHQ.DBF: a volume
// whose last digit is 1.
bool CloseMarkOf(const SnapshotRec_t& rec) {
    return int64_t(rec.HQCJSL) % 10 == 1;
}
template <typename T>
bool CloseMarkOf(const T&) {
    return false;
}

bool On(const std::atomic<int16_t>& runParam) {
    return runParam.load(std::memory_order_relaxed) != 0;
}

}  // namespace

template <typename T>
Quota<T>::Quota(QuoteContext& context) : context_(context), block_(kBlockRecords * kRecordBytes) {}

template <typename T>
int Quota<T>::open(CDbf& table, const std::string& path) {
    const SnapshotTexts& texts = TextsOf<T>();
    if (table.OpenDB(path) != 0) {
        velk::log(kHandlerModule, velk::LevelError, texts.openFailure, path.c_str());
        return -1;
    }
    table_ = &table;
    path_ = path;
    tableId_ = kTable;
    uint32_t count = 0;
    table.ReadRecNum(count);
    fileCount_ = int32_t(std::min<uint32_t>(count, INT32_MAX));
    context_.setTableCount(kTable, fileCount_);
    if (fileCount_ != 0 && CheckSpecialRecord(table, kTable) != 0) {
        ShowSpecialRecordError(path);
        return -1;
    }
    if (fileCount_ != expectedCount_) {
        if (fileCount_ > kMaxRecords) {
            // A damaged header: the first round sizes the table instead.
            velk::log(kHandlerModule, velk::LevelWarn,
                      "%s 文件头中的记录数 %u 超过上限 %d，内存中的表按收到的行情重建",
                      path.c_str(), count, kMaxRecords);
        } else if (!resize(fileCount_)) {
            return -1;
        }
    }
    return 0;
}

template <typename T>
bool Quota<T>::resize(int32_t count) {
    try {
        records_.assign(size_t(count), CQuotaRec<T>{});
    } catch (const std::bad_alloc&) {
        records_.clear();
        records_.shrink_to_fit();
        expectedCount_ = 0;
        velk::log(kHandlerModule, velk::LevelError, "%s：内存不足，不能容纳 %d 条记录！",
                  TextsOf<T>().fileName, count);
        return false;
    }
    expectedCount_ = count;
    // The counters follow the flags that were just cleared, and a range
    // noted in the old table means nothing in the new one.
    firstRoundReceived_ = 0;
    closeReceived_ = 0;
    resetDirty();
    // A live table now holds only zeros: writing ranges from it would put
    // empty records on disk, and the file's count would never follow. It
    // waits for a whole snapshot of the new size and writes it at once.
    if (!firstRound_) reloading_ = true;
    return true;
}

template <typename T>
bool Quota<T>::acceptCount(int32_t totalCount) {
    const SnapshotTexts& texts = TextsOf<T>();
    if (totalCount < 0 || totalCount > kMaxRecords) {
        velk::log(kHandlerModule, velk::LevelError,
                  "%s 数据包的记录总数 %d 不在 0 至 %d 之间，丢弃此包！", texts.fileName,
                  totalCount, kMaxRecords);
        return false;
    }
    const int32_t current = context_.tableCount(kTable);
    if (totalCount != current && current != 0) {
        velk::log(kHandlerModule, velk::LevelError, texts.countChange, current, totalCount);
    }
    if (totalCount != expectedCount_ && !resize(totalCount)) return false;
    context_.setTableCount(kTable, totalCount);
    return true;
}

template <typename T>
void Quota<T>::onPacket(const Packet& packet) {
    const SnapshotTexts& texts = TextsOf<T>();
    if (table_ == nullptr) {
        velk::log(kHandlerModule, velk::LevelWarn, "%s 未打开，丢弃此包！", texts.fileName);
        return;
    }
    const size_t length = std::min<size_t>(packet.payloadLen(), packet.payloadRoom());
    if (length < kHeaderBytes) {
        velk::log(kHandlerModule, velk::LevelWarn,
                  "%s 数据包长度 %d 字节，不足包头的 %d 字节，丢弃此包！", texts.fileName,
                  int(length), int(kHeaderBytes));
        return;
    }
    const uint8_t* payload = packet.payload();
    if (!acceptCount(LoadLe<int32_t>(payload))) return;

    // A partial entry at the end is not an entry.
    const size_t entries = (length - kHeaderBytes) / kEntryBytes;
    velk::RunParams& params = velk::RunParams::instance();
    const bool listNumbers = On(params.DebugRecNoSw);
    std::string numbers;
    if (listNumbers) numbers = texts.recordNumbers;

    bool closeMark = false;  // set by the packet's special record, kept after it
    T record;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* entry = payload + kHeaderBytes + i * kEntryBytes;
        const int32_t r = LoadLe<int32_t>(entry);
        std::memcpy(&record, entry + 4, sizeof record);
        const bool isLast = i + 1 == entries;
        if (listNumbers) {
            char number[16];
            std::snprintf(number, sizeof number, " %d ", r);
            numbers += number;
        }
        if (r < 0 || r >= expectedCount_) {
            dropEntry(r, isLast);
            continue;
        }
        if (r == 0) {
            const uint32_t carried = GuardTime(context_.times(), record);
            closeMark = CloseMarkOf(record);
            table_->WriteToDisk();
            if (On(params.savePerRound)) table_->SnapshotDB(int(carried));
        }
        if (storeRecord(r, record, closeMark, isLast) != 0) {
            velk::log(kHandlerModule, velk::LevelError, "%s", texts.processingFailure);
        }
    }
    if (listNumbers) velk::log(kHandlerModule, velk::LevelDetail, "%s", numbers.c_str());
}

template <typename T>
void Quota<T>::dropEntry(int32_t r, bool isLast) {
    const SnapshotTexts& texts = TextsOf<T>();
    velk::log(kHandlerModule, velk::LevelWarn, "%s 的记录号 %d 不在 0 至 %d 之间，丢弃此记录",
              texts.fileName, r, expectedCount_ - 1);
    velk::log(kHandlerModule, velk::LevelError, "%s", texts.processingFailure);
    // The packet's other records still reach the file after its last entry.
    if (isLast && !firstRound_ && !reloading_ && !closed_ &&
        !On(velk::RunParams::instance().savePerRound)) {
        writeRange();
    }
}

template <typename T>
int Quota<T>::storeRecord(int32_t r, const T& record, bool closeMark, bool isLast) {
    if (r < 0 || r >= expectedCount_) return -1;
    velk::RunParams& params = velk::RunParams::instance();
    CQuotaRec<T>& element = records_[size_t(r)];
    element.rec = record;

    if (firstRound_ || reloading_) {
        if (element.firstRoundSeen == 0) {
            element.firstRoundSeen = 1;
            ++firstRoundReceived_;
        }
        if (firstRoundReceived_ == expectedCount_) {
            // -1: the table could not be opened; the next record tries again.
            if (writeAll() == -1) return -1;
            if (firstRound_) {
                firstRound_ = false;
                if (On(params.saveFirstRoundQuota)) saveCopy("First", "保存首轮行情 %s 成功");
            } else {
                reloading_ = false;
                if (closed_) closeTick_ = platform::TickCount();
            }
        }
        return 0;
    }

    // The tick matters only around the close mark; live records skip it.
    const bool closing = kTable == kNqhq && (closed_ || closeMark);
    const uint32_t now = closing ? platform::TickCount() : 0;
    if (kTable == kNqhq && !closed_ && closeMark) {
        closed_ = true;
        closeTick_ = now;
    }

    if (!closed_) {
        dirtyHigh_ = std::max(dirtyHigh_, r);
        dirtyLow_ = std::min(dirtyLow_, r);
        if (!On(params.savePerRound)) {
            if (!isLast) return 0;
            if (r != 0) return writeRange();
        } else if (r != 0) {
            return 0;
        }
        // Record 0: the round is complete.
        const char* endOfRound = TextsOf<T>().endOfRound;
        if (endOfRound != nullptr && On(params.DebugNewRoundSw)) {
            velk::log(kQuotaModule, velk::LevelDetail, "%s", endOfRound);
        }
        return writeRange();
    }

    if (element.closeRoundSeen == 0) {
        element.closeRoundSeen = 1;
        ++closeReceived_;
    }
    if ((r == 0 && closeReceived_ == expectedCount_) || now - closeTick_ >= kCloseRewriteMs) {
        if (writeAll() == -1) return -1;
        closeTick_ = now;
        if (On(params.saveClosedRoundQuota) && !closeCopySaved_) {
            // Written once, whether the copy succeeds or not.
            closeCopySaved_ = true;
            saveCopy("Close", "保存闭市行情 %s 成功");
        }
    }
    return 0;
}

template <typename T>
void Quota<T>::saveCopy(const char* kind, const char* doneText) const {
    char date[16];
    std::snprintf(date, sizeof date, "%d", int(velk::util::TodayNumber()));
    const std::string name = path_ + "." + date + "." + kind + ".DBF";
    if (velk::util::CopyFileKeepTimes(path_, name)) {
        velk::log(kQuotaModule, velk::LevelDetail, doneText, name.c_str());
    }
}

template <typename T>
int Quota<T>::writeAll() {
    if (table_ == nullptr || expectedCount_ < 1) return -1;
    const uint32_t start = platform::TickCount();
    int result = writeRecords(1, expectedCount_ - 1);
    // The special record goes last: a reader that sees its new time finds
    // the records of that time before it.
    if (result == 0) result = writeRecords(0, 1);
    if (result == 0) result = table_->WriteRecNum(uint32_t(expectedCount_));
    if (result != 0) return result;
    if (On(velk::RunParams::instance().testPerformance)) {
        velk::log(kQuotaModule, velk::LevelDetail, TextsOf<T>().wholeWriteTime,
                  int(platform::TickCount() - start));
    }
    result = table_->CloseAndOpen();
    if (result == 0) resetDirty();
    return result;
}

template <typename T>
int Quota<T>::writeRange() {
    if (dirtyHigh_ == kNothingHigh) return 0;
    const bool timed = On(velk::RunParams::instance().testPerformance);
    const uint32_t start = timed ? platform::TickCount() : 0;
    const int result = writeRecords(dirtyLow_, dirtyHigh_ - dirtyLow_ + 1);
    if (result != 0) {
        // The range stays pending and goes out with the next one.
        velk::log(kQuotaModule, velk::LevelError,
                  "！！！写文件 %s 的第 %d 条记录到第 %d 条记录失败，错误码 = %d ！！！",
                  path_.c_str(), dirtyLow_, dirtyHigh_, result);
        return result;
    }
    if (timed) {
        velk::log(kQuotaModule, velk::LevelDetail, TextsOf<T>().rangeWriteTime, path_.c_str(),
                  dirtyLow_, dirtyHigh_, int(platform::TickCount() - start));
    }
    resetDirty();
    return 0;
}

template <typename T>
int Quota<T>::writeRecords(int32_t first, int32_t count) {
    if (count < 1) return 0;
    if (table_ == nullptr || first < 0 || first > expectedCount_ ||
        count > expectedCount_ - first) {
        return -1;
    }
    const std::span<const CQuotaRec<T>> all(records_);
    char* const buffer = block_.data();
    uint32_t blockFirst = uint32_t(first);
    size_t inBlock = 0;
    const int32_t end = first + count;
    for (int32_t r = first; r < end; ++r) {
        FormatRecord(all, size_t(r), buffer + inBlock * kRecordBytes);
        if (++inBlock == kBlockRecords) {
            const int result =
                table_->WriteRecord(blockFirst, buffer, uint32_t(inBlock * kRecordBytes));
            if (result != 0) return result;
            blockFirst = uint32_t(r) + 1;
            inBlock = 0;
        }
    }
    if (inBlock == 0) return 0;
    return table_->WriteRecord(blockFirst, buffer, uint32_t(inBlock * kRecordBytes));
}

template class Quota<SnapshotRec_t>;
template class Quota<ZqxxRec_t>;
template class Quota<NQZSXX_OrderRec_t>;
