#include "quotes/MarketState.h"

#include <algorithm>
#include <cstdio>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/SystemClock.h"
#include "quotes/QuoteRecords.h"
#include "runtime/SimpleLogger.h"
#include "runtime/Util.h"

namespace {

constexpr const char* kModule = "TyQuotaHandler";

// The payload bytes that are really there: never more than the packet holds.
size_t PayloadBytes(const Packet& packet) {
    return std::min<size_t>(packet.payloadLen(), packet.payloadRoom());
}

// "hh:mm-hh:mm" of two hhmm values.
std::string Period(int start, int end) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d-%02d:%02d", start / 100, start % 100, end / 100,
                  end % 100);
    return text;
}

}  // namespace

MarketState::MarketState(QuoteContext& context)
    : context_(context), openTime_(std::make_shared<const std::string>(kInitialOpenTime)) {}

const char* MarketState::StateText(int code) {
    switch (code) {
        case 10:
            return "尚未开市";
        case 20:
            return "允许报盘";
        case 30:
            return "上午开市";
        case 35:
            return "上午闭市";
        case 40:
            return "下午开市";
        case 45:
            return "全天闭市";
        case 50:
            return "下午闭市";
        case 55:
            return "晚上开市";
        case 60:
            return "成交完毕";
        default:
            return "未知";
    }
}

std::string MarketState::openTimeText() const {
    std::shared_ptr<const std::string> text = openTime_.load(std::memory_order_acquire);
    return text ? *text : std::string();
}

void MarketState::onMarketState(const Packet& packet) {
    const size_t length = PayloadBytes(packet);
    if (length < kStatePayload) {
        velk::log(kModule, velk::LevelWarn, "股市状态包长度 %d 字节，不足 %d 字节，丢弃此包！",
                  int(length), int(kStatePayload));
        return;
    }
    const uint8_t* p = packet.payload();
    const int16_t state = LoadLe<int16_t>(p);
    if (state != marketState()) {
        const char* oldText = StateText(marketState());
        state_.store(state, std::memory_order_relaxed);
        velk::log(kModule, velk::LevelInfo, "股市状态由%s转变为%s！", oldText, StateText(state));
        if (IsOpenState(state)) {
            createOpenFlag();
        } else {
            removeOpenFlag();
        }
    }

    std::string text = Period(LoadLe<int16_t>(p + 2), LoadLe<int16_t>(p + 4)) + ", " +
                       Period(LoadLe<int16_t>(p + 6), LoadLe<int16_t>(p + 8));
    const int16_t period3Start = LoadLe<int16_t>(p + 10);
    if (period3Start != 0) text += ", " + Period(period3Start, LoadLe<int16_t>(p + 12));
    if (text != openTimeText()) {
        openTime_.store(std::make_shared<const std::string>(text), std::memory_order_release);
        velk::log(kModule, velk::LevelInfo, "股市开市时间：%s", text.c_str());
    }
}

void MarketState::createOpenFlag() {
    const CRcvConf& conf = context_.config();
    // No path configured: there is no flag file to keep.
    if (!conf.hasFlag(CRcvConf::kFlagOpenFlagFile) || conf.szTYOpenFlagFile.empty()) return;
    if (velk::util::FileExists(conf.szTYOpenFlagFile)) return;
    platform::File flag;
    if (!flag.create(conf.szTYOpenFlagFile)) {
        velk::log(kModule, velk::LevelError, "创建开市标志文件 %s 出错，错误码：%d ",
                  conf.szTYOpenFlagFile.c_str(), flag.error().osError);
        return;
    }
    flag.close();
}

void MarketState::removeOpenFlag() {
    const std::string& path = context_.config().szTYOpenFlagFile;
    if (path.empty() || !velk::util::FileExists(path)) return;
    platform::FileError error;
    if (!platform::RemoveFile(path, &error)) {
        velk::log(kModule, velk::LevelError, "Remove开市标志文件 %s 时出错，错误码：%d",
                  path.c_str(), error.osError);
    }
}

void MarketState::onSystemInfo(const Packet& packet) {
    const size_t length = PayloadBytes(packet);
    if (length < kSystemInfoPayload) {
        velk::log(kModule, velk::LevelWarn, "系统信息包长度 %d 字节，不足 %d 字节，丢弃此包！",
                  int(length), int(kSystemInfoPayload));
        return;
    }
    const uint8_t* p = packet.payload();
    const int32_t newest = LoadLe<int32_t>(p);
    const int32_t minimum = LoadLe<int32_t>(p + 4);
    const int32_t marketTime = LoadLe<int32_t>(p + 8);
    // A packet without a time does not use up the one attempt.
    if (!clockSet_ && marketTime > 0 && correctClock_) correctClock(marketTime);
    judgeVersion(newest, minimum);
}

void MarketState::correctClock(int32_t marketTime) {
    clockSet_ = true;
    const platform::WallTime local = platform::ToLocal(marketTime);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.year, local.month,
                  local.day, local.hour, local.minute, local.second);
    velk::log(kModule, velk::LevelInfo, "把系统时间设置为股市时间：%s 。", text);
    switch (platform::SetSystemClock(marketTime)) {
        case platform::SetClockResult::Ok:
            break;
        case platform::SetClockResult::BadTime:
            velk::log(kModule, velk::LevelError, "校时失败，请检查！");
            break;
        case platform::SetClockResult::Refused:
            velk::log(kModule, velk::LevelError, "不能设置系统时间，请检查您的权限！");
            break;
    }
}

void MarketState::judgeVersion(int32_t newest, int32_t minimum) {
    if (newest == lastNewest_ && minimum == lastMinimum_) return;
    lastNewest_ = newest;
    lastMinimum_ = minimum;
    QuoteHost& host = context_.host();
    const int32_t mine = host.GetVersionDate();
    if (mine < minimum) {
        velk::log(kModule, velk::LevelError,
                  "本程序最新版本日期是 %08d，最低可用版本日期是 %08d，您的程序版本日期是 "
                  "%08d，必须更新！系统退出！",
                  newest, minimum, mine);
        host.ReportInvalidVersion();
    } else if (mine < newest) {
        velk::log(kModule, velk::LevelInfo,
                  "本程序最新版本日期是 %08d，您的程序版本日期是 %08d，建议更新！", newest, mine);
        host.SetNewVersionAvailable();
    } else if (mine > newest) {
        velk::log(kModule, velk::LevelError,
                  "本程序最新版本日期是 %08d，您的程序版本日期是 %08d，高于主站允许的版本！"
                  "系统退出！",
                  newest, mine);
        host.ReportInvalidVersion();
    }
}
