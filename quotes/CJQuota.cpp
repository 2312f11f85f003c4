#include "quotes/CJQuota.h"

#include <algorithm>
#include <cstring>

#include "quotes/TableCheck.h"
#include "runtime/SimpleLogger.h"

namespace {

const char* const kModule = "TyQuotaHandler";
const char* const kVerifyModule = "CJQuota";

constexpr size_t kTradeSize = sizeof(NQFGKCJXX_TradeRec_t);

}  // namespace

CJQuota::CJQuota(QuoteContext& context) : context_(context) {}

int CJQuota::open(CDbf& table, const std::string& path) {
    if (table.OpenDB(path, nullptr) != 0) {
        velk::log(kModule, velk::LevelError, "打开非公开成交信息库%s失败", path.c_str());
        return -1;
    }
    table_ = &table;
    path_ = path;
    pending_.clear();
    pendingCount_ = 0;
    setNext(verify());
    if (nextTradeNo() == 0 || CheckSpecialRecord(table, kNqfgkcjxx) == 0) return 0;
    ShowSpecialRecordError(path);
    return -1;
}

int32_t CJQuota::verify() {
    if (table_ == nullptr) return -1;
    const char* const readFailure = "读取非公开成交信息库失败，请检查NQFGKCJXX.DBF，并重启小站！";
    uint32_t count = 0;
    if (table_->ReadRecNum(count) != 0 || !table_->isOpen) {
        velk::log(kVerifyModule, velk::LevelError, readFailure);
        return 0;
    }
    // Trade numbers are 8-digit fields; the position never needs more.
    count = std::min<uint32_t>(count, INT32_MAX);
    std::vector<char> block(size_t(kVerifyBlock) * kImageLength);
    int32_t verified = 0;
    for (uint32_t first = 0; first < count;) {
        const uint32_t n = std::min(kVerifyBlock, count - first);
        if (table_->ReadRecords(first, n, block.data()) != 0) {
            velk::log(kVerifyModule, velk::LevelError, readFailure);
            return verified;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const std::string_view image(block.data() + size_t(i) * kImageLength, kImageLength);
            if (int64_t(TradeNumberOf(image)) != int64_t(first) + i) {
                velk::log(kVerifyModule, velk::LevelError,
                          "非公开成交信息成交序号不连续（发生在第 %d 条记录），请重启小站，"
                          "删掉NQFGKCJXX.DBF！",
                          int32_t(first + i));
                return verified;
            }
            ++verified;
        }
        first += n;
    }
    return verified;
}

void CJQuota::onPacket(const Packet& packet) {
    if (table_ == nullptr) {
        // Received but never opened (a switch other than 0 and 1).
        if (!reportedUnopened_) {
            velk::log(kModule, velk::LevelWarn, "%s 未打开，不处理其数据包",
                      QuoteTable(kNqfgkcjxx).fileName);
            reportedUnopened_ = true;
        }
        return;
    }
    // The decoded payload length, never beyond the bytes the packet holds.
    const uint32_t length = std::min<uint32_t>(packet.origLen(), packet.payloadRoom());
    const uint32_t n = length / uint32_t(kTradeSize);
    char image[kImageLength];
    for (uint32_t i = 0; i < n; ++i) {
        NQFGKCJXX_TradeRec_t trade;
        std::memcpy(&trade, packet.payload() + size_t(i) * kTradeSize, kTradeSize);
        const uint32_t number = uint32_t(trade.FGKCJXH.get());
        const uint32_t next = uint32_t(nextTradeNo());

        if (number == 0) {
            context_.times().guardText(kNqfgkcjxx, trade.FGKCJSJ, sizeof trade.FGKCJSJ);
            FormatRecord(trade, image);
            if (next == 0) {
                pending_.insert(pending_.end(), image, image + kImageLength);
                ++pendingCount_;
                setNext(1);
            } else {
                const int result = table_->UpdateRecord(0, image);
                if (result == -1) {
                    velk::log(kModule, velk::LevelError,
                              "写成交库特殊记录失败，小站将重新连接服务器");
                    resynchronise();
                    return;
                }
                // Any other failure was logged by the table and costs only
                // this data time; the next special record brings a newer one.
                table_->Flush();
            }
        } else if (number > next) {
            velk::log(kModule, velk::LevelError,
                      "收到错误的成交序号 %d，期望收到的成交序号为 %d，小站将重新连接服务器",
                      int32_t(number), int32_t(next));
            resynchronise();
            return;
        } else if (number < next) {
            continue;  // already in the file
        } else {
            FormatRecord(trade, image);
            pending_.insert(pending_.end(), image, image + kImageLength);
            ++pendingCount_;
            setNext(int32_t(next + 1));
        }

        if (pendingCount_ == 0) continue;
        if (table_->AppendRecord(pending_.data(), pendingCount_) == 0) {
            table_->Flush();
        } else {
            velk::log(kModule, velk::LevelError, "写非公开成交信息出错，小站将重新连接服务器");
            context_.host().ReconnectTcp();
            setNext(std::max(verify(), 0));
        }
        // Trades not written come again after the reconnection.
        pending_.clear();
        pendingCount_ = 0;
    }
}

void CJQuota::resynchronise() {
    context_.host().ReconnectTcp();
    setNext(std::max(verify(), 0));
    pending_.clear();
    pendingCount_ = 0;
}
