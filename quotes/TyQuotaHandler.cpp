#include "quotes/TyQuotaHandler.h"

#include "runtime/SimpleLogger.h"

namespace {

constexpr const char* kModule = "TyQuotaHandler";

// Logs an opening step's failure; true when the step succeeded.
bool Opened(int result, const char* failure) {
    if (result == 0) return true;
    velk::log(kModule, velk::LevelError, "%s", failure);
    return false;
}

}  // namespace

TyQuotaHandler::TyQuotaHandler(velk::concurrent::SharedPtr<QuoteHost> host)
    : host_(host),
      context_(*host_),
      market_(context_),
      nqhq_(context_),
      nqzsxx_(context_),
      nqxx_(context_) {}

TyQuotaHandler::~TyQuotaHandler() {
    stop();
    join();
}

const std::string& TyQuotaHandler::tablePath(QuoteTableId id) const {
    static const std::string kNone;
    const int slot = QuoteContext::CountSlotOf(id);
    return slot >= 0 ? config_.tablePaths[slot] : kNone;
}

int TyQuotaHandler::init(const QuoteConfig& config) {
    config_ = config;
    market_.setCorrectClock(config.correctClock);
    const CRcvConf& conf = context_.config();

    // 1. Security quotes.
    if (!Opened(nqhq_.open(context_.table(kNqhq), tablePath(kNqhq)),
                "Init_NQHQ, 初始化NQHQ.DBF失败")) {
        return -1;
    }
    // 2. Security information.
    if (!Opened(nqxx_.open(context_.table(kNqxx), tablePath(kNqxx)),
                "Init_NQXX, 初始化NQXX.DBF失败")) {
        return -1;
    }
    // 3. Agreement-transfer declarations (NQXYXX.DBF) are opened here.
    // 4. Market-making declarations, when received.
    if (conf.rcvZSXX == 1 && !Opened(nqzsxx_.open(context_.table(kNqzsxx), tablePath(kNqzsxx)),
                                     "Init_NQZSWT, 初始化NQZSWT.DBF失败")) {
        return -1;
    }
    // 5. Non-public declarations (NQFGKSBXX.DBF, rcvFGKSBXX = 1) are opened here.
    // 6. Non-public trades (NQFGKCJXX.DBF, rcvFGKCJXX = 1) are opened here.
    return 0;
}

int TyQuotaHandler::start() {
    if (thread_) {
        thread_->join();
        thread_.reset();
    }
    context_.setStopRequested(false);
    thread_.reset(new velk::concurrent::Thread(this, &TyQuotaHandler::run, ""));
    return 0;
}

void TyQuotaHandler::stop() {
    // Under the lock, so a putPacket between its test of the flag and its
    // wait cannot miss the notification.
    velk::concurrent::MutexLock guard(lock_);
    context_.setStopRequested(true);
    spaceCondition_.notifyAll();
}

void TyQuotaHandler::join() {
    if (thread_) thread_->join();
}

int TyQuotaHandler::putPacket(const Packet::Ptr& packet) {
    velk::concurrent::MutexLock guard(lock_);
    while (queue_.size() >= kQueueLimit && !context_.stopRequested()) {
        spaceCondition_.wait(lock_);
    }
    queue_.push_back(packet);
    dataCondition_.notify();
    return 0;
}

int TyQuotaHandler::queueLength() const {
    velk::concurrent::MutexLock guard(lock_);
    return int(queue_.size());
}

void TyQuotaHandler::run() {
    while (!context_.stopRequested()) {
        Packet::Ptr packet;
        {
            velk::concurrent::MutexLock guard(lock_);
            if (queue_.empty()) {
                dataCondition_.waitFor(lock_, kIdleWaitMs);
                continue;
            }
            packet = queue_.front();
            queue_.pop_front();
            spaceCondition_.notify();
        }
        dealPacket(packet);
    }
    // What is still queued is dropped unhandled.
    velk::concurrent::MutexLock guard(lock_);
    queue_.clear();
}

int TyQuotaHandler::dealPacket(const Packet::Ptr& packet) {
    if (!packet) return 0;
    const Packet& p = *packet;
    const CRcvConf& conf = context_.config();
    switch (p.type()) {
        case 11:
            market_.onSystemInfo(p);
            break;
        case 12:
            market_.onMarketState(p);
            break;
        case 21:
            nqxx_.onPacket(p);
            break;
        case 22:
            nqhq_.onPacket(p);
            break;
        case 23:
            notHandled(p, kNqxyxx);
            break;
        case 24:
            if (conf.rcvZSXX != 0) nqzsxx_.onPacket(p);
            break;
        case 26:
            if (conf.rcvFGKSBXX != 0) notHandled(p, kNqfgksbxx);
            break;
        case 27:
            if (conf.rcvFGKCJXX != 0) notHandled(p, kNqfgkcjxx);
            break;
        default:
            velk::log(kModule, velk::LevelWarn, "unkown packet type %d", int(p.type()));
            break;
    }
    return 0;
}

void TyQuotaHandler::notHandled(const Packet& packet, QuoteTableId table) {
    velk::log(kModule, velk::LevelWarn, "本版本尚不处理 %s 的数据包（类型 %d），丢弃此包",
              QuoteTable(table).fileName, int(packet.type()));
}
