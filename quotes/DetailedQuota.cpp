#include "quotes/DetailedQuota.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/Clock.h"
#include "quotes/TableCheck.h"
#include "runtime/SimpleLogger.h"

namespace {

const char* const kModule = "TyQuotaHandler";

const char* const kDeltaWithoutBase =
    "未收到增量行情的基轮行情，直接丢弃增量行情包(mode= %d,round= %d, delta= %d";
const char* const kRecoveryDone = "尝试恢复DBF库成功，继续处理下一轮行情";
const char* const kRecoveryFailed = "尝试恢复DBF库失败(错误码：%d)，等待1秒后继续尝试恢复";

// The status byte and the time field of a received declaration.
char& StatusOf(NQXYXX_OrderRec_t& rec) {
    return rec.XYJLZT;
}
char& StatusOf(NQFGKSBXX_OrderRec_t& rec) {
    return rec.FGKJLZT;
}
char* TimeOf(NQXYXX_OrderRec_t& rec) {
    return rec.XYWTSJ;
}
char* TimeOf(NQFGKSBXX_OrderRec_t& rec) {
    return rec.FGKWTSJ;
}

}  // namespace

// The texts that differ between the two tables.
struct DetailedQuota::Texts {
    const char* openFailure;
    const char* loadFailure;
    const char* partDone;
    const char* lastPacket;
    const char* commitFailure;
};

const DetailedQuota::Texts& DetailedQuota::TextsFor(QuoteTableId id) {
    static const Texts xyxx = {
        "打开协议转让投资者申报信息库%s失败",
        "导入协议转让投资者申报信息库%s失败",
        "该轮行情已经处理完毕，直接丢弃此包(mode= %d,round= %d, delta= %d",
        "接收到第(round=%d,delta=%d)轮行情最后一个报文",
        "写(round = %d,delta = %d)轮行情失败(错误码：%d)，尝试恢复DBF库",
    };
    static const Texts fgksbxx = {
        "打开非公开申报信息库%s失败",
        "导入非公开申报信息库%s失败",
        "该轮非公开申报信息已经处理完毕，直接丢弃此包(mode= %d,round= %d, delta= %d",
        "接收到第(round=%d,delta=%d)轮非公开申报信息最后一个报文",
        "写(round = %d,delta = %d)轮非公开申报信息失败(错误码：%d)，尝试恢复DBF库",
    };
    return id == kNqfgksbxx ? fgksbxx : xyxx;
}

DetailedQuota::DetailedQuota(QuoteTableId id, QuoteContext& context,
                             std::function<bool()> stopRequested)
    : id_(id == kNqfgksbxx ? kNqfgksbxx : kNqxyxx),
      texts_(TextsFor(id_)),
      imageLength_(QuoteTable(id_).recordLength),
      statusOffset_(size_t(QuoteTable(id_).fields[QuoteTable(id_).statusField].offset)),
      context_(context),
      stopRequested_(std::move(stopRequested)) {}

static_assert(DetailedQuota::kMaxImage >= QuoteTable(kNqxyxx).recordLength &&
              DetailedQuota::kMaxImage >= QuoteTable(kNqfgksbxx).recordLength);

// --- opening and loading ------------------------------------------------------

int DetailedQuota::open(CDbf& table, const std::string& path) {
    if (table.OpenDB(path, nullptr) != 0) {
        velk::log(kModule, velk::LevelError, texts_.openFailure, path.c_str());
        return -1;
    }
    table_ = &table;
    path_ = path;
    if (load() != 0) {
        velk::log(kModule, velk::LevelError, texts_.loadFailure, path.c_str());
        return -1;
    }
    tableId_ = id_;
    publishCount();
    if (fileRecords_ != 0 && CheckSpecialRecord(table, id_) != 0) {
        ShowSpecialRecordError(path);
        return -1;
    }
    return 0;
}

bool DetailedQuota::layoutMatches() const {
    const QuoteTableInfo& info = QuoteTable(id_);
    if (table_->recordLength != info.recordLength || table_->fields.size() != info.fields.size()) {
        return false;
    }
    for (size_t i = 0; i < info.fields.size(); ++i) {
        if (table_->fields[i].offset != info.fields[i].offset) return false;
    }
    return true;
}

void DetailedQuota::clearMaps() {
    pending_.clear();
    all_.clear();
    changed_.clear();
    active_.clear();
    specialInFile_ = false;
    fileRecords_ = 0;
}

int DetailedQuota::load() {
    if (table_ == nullptr) return -1;
    clearMaps();
    if (!table_->isOpen) return -1;
    // Our images put every field where the standard layout has it; a file
    // laid out otherwise would be garbled by them, and read wrongly here.
    if (!layoutMatches()) {
        velk::log(kModule, velk::LevelError, "%s 的库结构与本程序写入的记录格式不符，无法导入",
                  path_.c_str());
        return -1;
    }
    uint32_t count = 0;
    int result = table_->ReadRecNum(count);
    if (result != 0) return result;
    if (!table_->isOpen) return -1;  // the count could not be read at all

    block_.resize(size_t(kLoadBlock) * imageLength_);
    all_.reserve(std::min<uint32_t>(count, 1u << 20));
    int duplicates = 0;
    for (uint32_t first = 0; first < count;) {
        const uint32_t n = std::min(kLoadBlock, count - first);
        result = table_->ReadRecords(first, n, block_.data());
        if (result != 0) {
            clearMaps();
            return result;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const char* image = block_.data() + size_t(i) * imageLength_;
            const std::string_view v(image, imageLength_);
            const uint32_t position = first + i;
            auto [it, inserted] = all_.try_emplace(RecordKey(id_, v));
            if (!inserted) {
                // A key seen before: the later record is the newer one. Each
                // key's record number is its position in the file, so the
                // numbers of all other keys stay right.
                ++duplicates;
                active_.erase(it->first);
            }
            it->second.recordNo = int32_t(position);
            std::memcpy(it->second.image.data(), image, imageLength_);
            if (IsActive(id_, v)) active_.insert(it->first);
            if (position == 0 && IsSpecial(id_, v)) specialInFile_ = true;
        }
        first += n;
    }
    fileRecords_ = count;
    if (duplicates > 0) {
        velk::log(kModule, velk::LevelWarn,
                  "%s 中有 %d 条记录与其后的记录关键字重复，以后面的记录为准", path_.c_str(),
                  duplicates);
    }
    return 0;
}

// --- packets -------------------------------------------------------------------

void DetailedQuota::onPacket(const Packet& packet) {
    if (table_ == nullptr) {
        // Received but never opened (a switch other than 0 and 1): there is
        // no file to keep, and no recovery could give us one.
        if (!reportedUnopened_) {
            velk::log(kModule, velk::LevelWarn, "%s 未打开，不处理其数据包",
                      QuoteTable(id_).fileName);
            reportedUnopened_ = true;
        }
        return;
    }
    // The decoded payload length, never beyond the bytes the packet holds.
    const uint32_t length = std::min<uint32_t>(packet.origLen(), packet.payloadRoom());
    if (length < sizeof(DeclarationHeader)) {
        velk::log(kModule, velk::LevelWarn, "收到的%s数据包长度(%u)不足包头的18字节，直接丢弃此包",
                  QuoteTable(id_).fileName, length);
        return;
    }
    if (needsRecovery_ && !recoverUntilDone()) return;

    DeclarationHeader header;
    std::memcpy(&header, packet.payload(), sizeof header);
    const int16_t mode = header.mode;
    const int32_t total = header.totalCount;
    if (!startPart(mode, header.round, header.delta)) return;

    const uint8_t* entries = packet.payload() + sizeof header;
    const uint32_t room = length - uint32_t(sizeof header);
    uint32_t n = 0;
    if (id_ == kNqxyxx) {
        n = room / uint32_t(sizeof(DeclarationEntry<NQXYXX_OrderRec_t>));
        dealEntries<NQXYXX_OrderRec_t>(entries, n, mode);
    } else {
        n = room / uint32_t(sizeof(DeclarationEntry<NQFGKSBXX_OrderRec_t>));
        dealEntries<NQFGKSBXX_OrderRec_t>(entries, n, mode);
    }

    received_ = int32_t(std::min<int64_t>(int64_t(received_) + n, INT32_MAX));
    if (received_ == total) {
        velk::log(kModule, velk::LevelDebug, texts_.lastPacket, curRound_, curDelta_);
        commitWithRecovery(curRound_, curDelta_);
        partDone_ = true;
        received_ = 0;
    } else {
        partDone_ = false;
    }
}

// Moves the round state on for a packet of (mode, round, delta); false when
// the packet is to be dropped.
bool DetailedQuota::startPart(int16_t mode, int32_t round, int32_t delta) {
    if (mode != 0) {
        if (round != curRound_) {
            if (curRound_ != -1)
                velk::log(kModule, velk::LevelWarn, kDeltaWithoutBase, mode, round, delta);
            return false;
        }
        if (delta != curDelta_) {
            // The previous delta is incomplete: what arrived of it goes in.
            if (!partDone_) {
                commitWithRecovery(curRound_, curDelta_);
                received_ = 0;
            }
            curDelta_ = delta;
        } else if (partDone_) {
            velk::log(kModule, velk::LevelWarn, texts_.partDone, mode, round, delta);
            return false;
        }
        return true;
    }
    if (round != curRound_) {
        if (!partDone_ && curRound_ != -1) {
            commitWithRecovery(curRound_, curDelta_);
            received_ = 0;
        }
        curDelta_ = delta;
        curRound_ = round;
        beginBaseRound();
    } else if (partDone_) {
        velk::log(kModule, velk::LevelWarn, texts_.partDone, 0, round, delta);
        return false;
    }
    return true;
}

template <typename Rec>
void DetailedQuota::dealEntries(const uint8_t* entries, uint32_t n, int16_t mode) {
    for (uint32_t i = 0; i < n; ++i) {
        DeclarationEntry<Rec> entry;
        std::memcpy(&entry, entries + size_t(i) * sizeof entry, sizeof entry);
        const int32_t entryNo = entry.entryNo;
        if (mode == 1 && entryNo != 0) StatusOf(entry.rec) = entry.operation == 2 ? '0' : '1';
        if (entryNo == 0) context_.times().guardText(id_, TimeOf(entry.rec), 6);
        apply(entry.rec);
    }
}

// --- the maps ------------------------------------------------------------------

void DetailedQuota::beginBaseRound() {
    for (int64_t key : active_) {
        auto it = all_.find(key);
        if (it == all_.end()) continue;
        Known& known = it->second;
        // A declaration still waiting to be appended has no record to mark;
        // its image goes out with the status it has at the commit.
        if (uint32_t(known.recordNo) < fileRecords_) changed_.try_emplace(key, false);
        known.image[statusOffset_] = '0';
    }
    active_.clear();
}

void DetailedQuota::apply(const NQXYXX_OrderRec_t& rec) {
    char image[kMaxImage];
    FormatRecord(rec, image);
    applyImage(image, IsSpecial(rec));
}

void DetailedQuota::apply(const NQFGKSBXX_OrderRec_t& rec) {
    char image[kMaxImage];
    FormatRecord(rec, image);
    applyImage(image, IsSpecial(rec));
}

void DetailedQuota::applyImage(const char* image, bool special) {
    // Until a special record has come, nothing else is taken in; and a table
    // without records takes the special record first, so that record 0 is
    // always the special record.
    if (!special && (!specialSeen_ || (fileRecords_ == 0 && pending_.empty()))) return;
    specialSeen_ = true;

    const std::string_view v(image, imageLength_);
    const int64_t key = RecordKey(id_, v);
    auto [it, inserted] = all_.try_emplace(key);
    Known& known = it->second;
    if (inserted) {
        known.recordNo = int32_t(fileRecords_ + pending_.size());
        std::memcpy(known.image.data(), image, imageLength_);
        pending_.push_back(key);
    } else if (std::memcmp(known.image.data(), image, imageLength_) != 0) {
        if (uint32_t(known.recordNo) < fileRecords_) {
            auto c = changed_.find(key);
            // Marked withdrawn by the base round and now sent again exactly
            // as the file holds it (status "1"): nothing to write.
            const bool backAsInFile =
                c != changed_.end() && !c->second && image[statusOffset_] == '1' &&
                std::memcmp(known.image.data(), image, statusOffset_) == 0 &&
                std::memcmp(known.image.data() + statusOffset_ + 1, image + statusOffset_ + 1,
                            imageLength_ - statusOffset_ - 1) == 0;
            if (backAsInFile) {
                changed_.erase(c);
            } else {
                changed_[key] = true;
            }
        }
        std::memcpy(known.image.data(), image, imageLength_);
    }
    if (IsActive(id_, v)) {
        active_.insert(key);
    } else {
        active_.erase(key);
    }
}

// --- writing -------------------------------------------------------------------

int DetailedQuota::commit() {
    if (table_ == nullptr) return -1;
    const uint16_t statusField = uint16_t(QuoteTable(id_).statusField);
    const Known* special = nullptr;
    for (const auto& [key, whole] : changed_) {
        const Known& known = all_.at(key);
        if (known.recordNo == 0) {
            special = &known;
            continue;
        }
        const uint32_t recordNo = uint32_t(known.recordNo);
        const int result = whole ? table_->UpdateRecord(recordNo, known.image.data())
                                 : table_->UpdateField(recordNo, statusField, "0", 1);
        if (result != 0) return result;
    }

    if (!pending_.empty()) {
        // The new declarations' numbers follow the records we know of; the
        // append writes them after the file's last record, so both must agree.
        uint32_t inFile = UINT32_MAX;
        int result = table_->ReadRecNum(inFile);
        if (result != 0) return result;
        if (inFile != fileRecords_) {
            velk::log(kModule, velk::LevelError,
                      "%s 的记录数(%u)与小站已知的记录数(%u)不符，新申报无法追加", path_.c_str(),
                      inFile, fileRecords_);
            return -1;
        }
        block_.resize(pending_.size() * imageLength_);
        char* at = block_.data();
        for (int64_t key : pending_) {
            std::memcpy(at, all_.at(key).image.data(), imageLength_);
            at += imageLength_;
        }
        const uint32_t n = uint32_t(pending_.size());
        result = table_->AppendRecord(block_.data(), n);
        if (result != 0) return result;
        if (fileRecords_ == 0 && IsSpecial(id_, std::string_view(block_.data(), imageLength_))) {
            specialInFile_ = true;
        }
        fileRecords_ += n;
        pending_.clear();
    }

    if (special != nullptr) {
        const int result = table_->UpdateRecord(0, special->image.data());
        if (result != 0) return result;
        specialInFile_ = true;
    }
    table_->Flush();
    changed_.clear();
    return 0;
}

void DetailedQuota::commitWithRecovery(int32_t round, int32_t delta) {
    const int result = commit();
    if (result == 0) {
        publishCount();
        return;
    }
    velk::log(kModule, velk::LevelError, texts_.commitFailure, round, delta, result);
    needsRecovery_ = true;
    recoverUntilDone();
}

bool DetailedQuota::recoverUntilDone() {
    while (!stopRequested()) {
        const int result = recover();
        if (result == 0) {
            velk::log(kModule, velk::LevelInfo, kRecoveryDone);
            needsRecovery_ = false;
            publishCount();
            return true;
        }
        velk::log(kModule, velk::LevelError, kRecoveryFailed, result);
        waitBeforeRetry();
    }
    return false;
}

int DetailedQuota::recover() {
    clearMaps();
    if (table_ == nullptr) return -1;
    if (table_->CloseAndOpen() != 0) return -1;
    // A file error on the way here cleared the table's header copies, which
    // reopening the file does not restore; without them every read would be
    // taken at the wrong place.
    if (table_->headerLength == 0 || table_->recordLength == 0) {
        const int result = table_->OpenDB(path_, nullptr);
        if (result != 0) return result;
    }
    return load();
}

// One second between two recovery attempts, on the station's clock and
// ended early by a stop.
void DetailedQuota::waitBeforeRetry() {
    const uint32_t start = platform::TickCount();
    while (!stopRequested()) {
        const uint32_t waited = platform::TickCount() - start;
        if (waited >= kRecoveryPauseMs) return;
        platform::SleepMs(std::min<uint32_t>(50, kRecoveryPauseMs - waited));
    }
}

bool DetailedQuota::stopRequested() const {
    return stopRequested_ ? stopRequested_() : context_.stopRequested();
}

void DetailedQuota::publishCount() {
    const size_t special = (specialInFile_ || specialSeen_) ? 1 : 0;
    context_.setTableCount(id_, int32_t(std::min<size_t>(active_.size() + special, INT32_MAX)));
}

// --- inspection ----------------------------------------------------------------

int32_t DetailedQuota::recordNoOf(int64_t key) const {
    auto it = all_.find(key);
    return it == all_.end() ? -1 : it->second.recordNo;
}

std::string DetailedQuota::imageOf(int64_t key) const {
    auto it = all_.find(key);
    return it == all_.end() ? std::string() : std::string(view(it->second));
}
