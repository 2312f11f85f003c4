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
      nqxyxx_(kNqxyxx, context_),
      nqzsxx_(context_),
      nqxx_(context_),
      nqfgkcjxx_(context_),
      nqfgksbxx_(kNqfgksbxx, context_) {}

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
    // 3. Agreement-transfer declarations.
    if (!Opened(nqxyxx_.open(context_.table(kNqxyxx), tablePath(kNqxyxx)),
                "Init_NQXYWT, 初始化NQXYWT.DBF失败")) {
        return -1;
    }
    // 4. Market-making declarations, when received.
    if (conf.rcvZSXX == 1 && !Opened(nqzsxx_.open(context_.table(kNqzsxx), tablePath(kNqzsxx)),
                                     "Init_NQZSWT, 初始化NQZSWT.DBF失败")) {
        return -1;
    }
    // 5. Non-public declarations, when received.
    if (conf.rcvFGKSBXX == 1 &&
        !Opened(nqfgksbxx_.open(context_.table(kNqfgksbxx), tablePath(kNqfgksbxx)),
                "Init_NQFGKSBXX, 初始化NQFGKSBXX.DBF失败")) {
        return -1;
    }
    // 6. Non-public trades, when received.
    if (conf.rcvFGKCJXX == 1 &&
        !Opened(nqfgkcjxx_.open(context_.table(kNqfgkcjxx), tablePath(kNqfgkcjxx)),
                "Init_NQFGKCJXX, 初始化NQFGKCJXX.DBF失败")) {
        return -1;
    }
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
            nqxyxx_.onPacket(p);
            break;
        case 24:
            if (conf.rcvZSXX != 0) nqzsxx_.onPacket(p);
            break;
        case 26:
            if (conf.rcvFGKSBXX != 0) nqfgksbxx_.onPacket(p);
            break;
        case 27:
            if (conf.rcvFGKCJXX != 0) nqfgkcjxx_.onPacket(p);
            break;
        default:
            velk::log(kModule, velk::LevelWarn, "unkown packet type %d", int(p.type()));
            break;
    }
    return 0;
}
