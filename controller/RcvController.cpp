#include "controller/RcvController.h"

#include "controller/PacketTypes.h"
#include "platform/Clock.h"
#include "platform/WindowMessages.h"
#include "quotes/QuoteHost.h"
#include "quotes/TyQuotaHandler.h"
#include "resources/Version.h"
#include "runtime/RunParams.h"
#include "runtime/SimpleLogger.h"
#include "runtime/Timer.h"
#include "runtime/Util.h"
#include "transport/McastCommHandler.h"
#include "transport/PacketSink.h"

using velk::concurrent::MutexLock;
using velk::concurrent::SharedPtr;
using velk::util::Timer;

namespace {

constexpr const char* kModule = "RcvController";

velk::concurrent::Mutex& InstanceLock() {
    static velk::concurrent::Mutex m;
    return m;
}
SharedPtr<RcvController>& InstanceRef() {
    static SharedPtr<RcvController> instance;
    return instance;
}

}  // namespace

// What the handlers hold of the controller: the quote handler reaches its
// tables and the configuration through it, the receivers the packet queue.
// The controller stops and drops every handler before it goes, so the link
// never outlives the controller in use.
class RcvController::HostLink : public QuoteHost, public PacketSink {
  public:
    explicit HostLink(RcvController* c) : c_(c) {}
    CDbf& quoteTable(QuoteTableId id) override { return c_->quoteTable(id); }
    const CRcvConf& config() const override { return c_->conf_; }
    int32_t GetVersionDate() override { return RcvController::GetVersionDate(); }
    void ReportInvalidVersion() override { c_->ReportInvalidVersion(); }
    void SetNewVersionAvailable() override { c_->SetNewVersionAvailable(); }
    void ReconnectTcp() override { c_->ReconnectTcp(); }
    int EnqueuePacket(const Packet::Ptr& packet) override { return c_->EnqueuePacket(packet); }

  private:
    RcvController* c_;
};

// The failover timer's way back into the controller. Stop clears target
// under the lock, so a callback that fires while the controller stops either
// runs to its end before Stop goes on, or finds no target.
struct RcvController::TimerGate {
    velk::concurrent::Mutex lock;
    RcvController* target = nullptr;
    int32_t timerId = Timer::invalidId;
};

class RcvController::FailoverCallback : public Timer::Callback {
  public:
    explicit FailoverCallback(SharedPtr<TimerGate> gate) : gate_(std::move(gate)) {}
    void invoke(int) override {
        MutexLock g(gate_->lock);
        if (gate_->target != nullptr) gate_->target->OnFailoverTimer();
    }

  private:
    SharedPtr<TimerGate> gate_;
};

// --- instances -----------------------------------------------------------

RcvController::Ptr RcvController::GetInstance(const CRcvConf& conf) {
    MutexLock g(InstanceLock());
    if (!InstanceRef()) InstanceRef() = Create(conf);
    return InstanceRef();
}

RcvController::Ptr RcvController::GetInstance() {
    MutexLock g(InstanceLock());
    return InstanceRef();
}

void RcvController::ReleaseInstance() {
    Ptr dropped;
    {
        MutexLock g(InstanceLock());
        dropped = InstanceRef();
        InstanceRef().reset();
    }
}

RcvController::Ptr RcvController::Create(const CRcvConf& conf) {
    return Ptr(new RcvController(conf));
}

RcvController::RcvController(const CRcvConf& conf)
    : conf_(conf), link_(new HostLink(this)), timerGate_(new TimerGate) {
    context_.options.rcvMcast = conf_.rcv_Mcast;
    context_.options.rcvZSXX = conf_.rcvZSXX;
    context_.options.rcvFGKSBXX = conf_.rcvFGKSBXX;
    context_.options.rcvFGKCJXX = conf_.rcvFGKCJXX;
    for (int i = 0; i < kQuoteTableCount; ++i) tables_[i] = std::make_unique<CDbf>(QuoteSchema(i));
    timerGate_->target = this;
}

RcvController::~RcvController() {
    // A controller that still runs anything must not leave threads behind
    // that point at it.
    if (worker_ || quoteHandler_ || !mcastReceivers_.empty()) Stop();
    CancelFailoverTimer();
}

// --- lifecycle -------------------------------------------------------------

int RcvController::Init() {
    quoteHandler_.reset(new TyQuotaHandler(SharedPtr<QuoteHost>(link_)));

    if (conf_.tcpInUse()) {
        if (context_.options.tcpMode()) {
            velk::log(kModule, velk::LevelError,
                      "本程序版本不含TCP通信模块，不能以TCP方式接收行情（rcv_Mcast=%d）！",
                      int(conf_.rcv_Mcast));
        } else {
            LogTcpTablesUnavailable();
        }
    }

    if (conf_.dwKeepFileDays != 0 &&
        velk::util::DeleteOldFiles(conf_.szTYBulletinPath, conf_.dwKeepFileDays) != 0) {
        velk::log(kModule, velk::LevelError, "数据初始化失败");
        return -1;
    }

    context_.createChannels();
    ChannelState* primary = context_.findChannel(kPrimaryChannelId);
    ChannelState* backup = context_.findChannel(kBackupChannelId);
    if (primary == nullptr || backup == nullptr) {
        velk::log(kModule, velk::LevelError, "频道初始化失败");
        return -1;
    }
    primary->groupAddr = conf_.mcRcvAddr1;
    primary->port = conf_.mcRcvPort1;
    primary->nicAddr = conf_.mcNetCard1;
    backup->groupAddr = conf_.mcRcvAddr2;
    backup->port = conf_.mcRcvPort2;
    backup->nicAddr = conf_.mcNetCard2;
    for (ChannelState* c : {primary, backup}) c->fileDir = conf_.szTYBulletinPath;
    velk::log(kModule, velk::LevelDetail, "接收频道初始化成功!");

    QuoteConfig quotes;
    quotes.correctClock = conf_.hasFlag(CRcvConf::kFlagClockCorrection);
    quotes.tablePaths[0] = conf_.NQHQ_File;
    quotes.tablePaths[1] = conf_.NQXYXX_File;
    quotes.tablePaths[2] = conf_.rcvZSXX == 1 ? conf_.NQZSXX_File : std::string();
    quotes.tablePaths[3] = conf_.NQXX_File;
    quotes.tablePaths[4] = conf_.rcvFGKCJXX == 1 ? conf_.NQFGKCJXX_File : std::string();
    quotes.tablePaths[5] = conf_.rcvFGKSBXX == 1 ? conf_.NQFGKSBXX_File : std::string();
    if (quoteHandler_->init(quotes) != 0) {
        velk::log(kModule, velk::LevelInfo, "行情数据初始化失败");
        return -1;
    }
    velk::log(kModule, velk::LevelDetail, "行情处理器初始化成功!");

    initialised_.store(true);
    return 0;
}

void RcvController::LogTcpTablesUnavailable() {
    std::string tables;
    auto add = [&tables](int32_t on, const char* name) {
        if (on != 1) return;
        if (!tables.empty()) tables += "、";
        tables += name;
    };
    add(conf_.rcvZSXX, "做市转让申报信息（NQZSXX.DBF）");
    add(conf_.rcvFGKSBXX, "非公开申报信息（NQFGKSBXX.DBF）");
    add(conf_.rcvFGKCJXX, "非公开成交信息（NQFGKCJXX.DBF）");
    velk::log(kModule, velk::LevelWarn,
              "本程序版本不含TCP通信模块，以下经TCP接收的表将收不到数据：%s", tables.c_str());
}

int RcvController::Start() {
    if (!quoteHandler_ || quoteHandler_->start() != 0) {
        velk::log(kModule, velk::LevelError, "行情处理器启动失败");
        return -1;
    }
    velk::log(kModule, velk::LevelInfo, "行情处理器启动成功!");

    if (worker_) {
        worker_->join();
        worker_.reset();
    }
    exiting_.store(false);
    worker_.reset(new velk::concurrent::Thread(this, &RcvController::WorkerLoop, ""));

    if (!context_.options.tcpMode()) ScheduleFailoverTimer();

    if (StartCommunication() != 0) {
        velk::log(kModule, velk::LevelError, "通信初始化失败");
        return -1;
    }
    velk::log(kModule, velk::LevelInfo, "通信模块启动成功!");
    return 0;
}

int RcvController::StartCommunication() {
    if (!context_.options.tcpMode()) {
        const bool bind = conf_.hasFlag(CRcvConf::kFlagBindInterfaces);
        for (int32_t index : {context_.primaryIndex.get(), context_.backupIndex.get()}) {
            ChannelState* channel = context_.channel(index);
            const int id = channel != nullptr ? int(channel->channelId) : 0;
            SharedPtr<McastCommHandler> receiver(
                new McastCommHandler(SharedPtr<PacketSink>(link_)));
            if (channel == nullptr || receiver->Init(channel, bind) != 0) {
                velk::log(kModule, velk::LevelError, "组播初始化失败，频道%d", id);
                return -1;
            }
            velk::log(kModule, velk::LevelDetail, "频道%d组播初始化成功", id);
            mcastReceivers_.push_back(receiver);
            if (receiver->Start() != 0) {
                velk::log(kModule, velk::LevelError, "启动组播失败，频道%d", id);
                return -1;
            }
            velk::log(kModule, velk::LevelDetail, "频道%d组播启动成功", id);
        }
    }
    if (conf_.tcpInUse() && context_.options.tcpMode()) {
        // The snapshot tables come only over TCP in this configuration, and
        // this build has no TCP session to bring them.
        velk::log(kModule, velk::LevelError, "TCP通信模块初始化失败");
        return -1;
    }
    return 0;
}

void RcvController::Stop() {
    if (stopped_.exchange(true)) return;
    exiting_.store(true);
    ReleaseWaiters();

    StopCommunication();
    velk::log(kModule, velk::LevelInfo, "停止通信模块成功!");

    CancelFailoverTimer();

    if (quoteHandler_) {
        quoteHandler_->stop();
        quoteHandler_->join();
    }
    velk::log(kModule, velk::LevelInfo, "停止行情处理器!");

    if (worker_) {
        worker_->join();
        worker_.reset();
    }
    velk::log(kModule, velk::LevelDetail, "停止主工作线程!");

    for (auto& table : tables_) table->Close();
    context_.channels.clear();
    quoteHandler_.reset();
    {
        MutexLock g(lock_);
        packets_.clear();
        commands_.clear();
    }

    velk::SimpleLogger::log(kModule, velk::LevelInfo,
                            "共收到 %I64d 个包，合计 %I64d 字节。其中错包 %I64d 个，乱序包 %I64d "
                            "个，可统计的丢失包 %I64d 个。",
                            (long long)GetPacketsReceived(), (long long)GetBytesReceived(),
                            (long long)GetErrorPackets(), (long long)GetOutOfOrderPackets(),
                            (long long)GetLostPackets());
    velk::log(kModule, velk::LevelInfo, "系统退出！\n\n\n");
}

void RcvController::StopCommunication() {
    // All flags first, so the receivers wind down together.
    for (auto& r : mcastReceivers_) r->RequestStop();
    for (auto& r : mcastReceivers_) r->Join();
    mcastReceivers_.clear();
}

void RcvController::ReleaseWaiters() {
    MutexLock g(lock_);
    packetSpace_.notifyAll();
    commandSpace_.notifyAll();
    packetData_.notifyAll();
    commandData_.notifyAll();
}

// --- queues ----------------------------------------------------------------

int RcvController::EnqueuePacket(const Packet::Ptr& packet) {
    if (exiting_.load()) return -1;
    MutexLock g(lock_);
    while (packets_.size() >= kQueueLimit && !exiting_.load()) packetSpace_.wait(lock_);
    // Released because the station stops: nobody will take the packet.
    if (exiting_.load()) return -1;
    packets_.push_back(packet);
    packetData_.notify();
    return 0;
}

int RcvController::PostCommand(const Command& command) {
    MutexLock g(lock_);
    while (commands_.size() >= kQueueLimit && !exiting_.load()) commandSpace_.wait(lock_);
    if (exiting_.load()) return -1;
    commands_.push_back(command);
    commandData_.notify();
    // The worker waits on the packet queue's condition; a command wakes it too.
    packetData_.notify();
    return 0;
}

int RcvController::GetQueueLength() const {
    MutexLock g(lock_);
    return int(packets_.size());
}

// --- worker ----------------------------------------------------------------

void RcvController::WorkerLoop() {
    while (!exiting_.load()) {
        DrainIfFull();
        const int took = TakePacket() + TakeCommand();
        if (took != 0) continue;
        MutexLock g(lock_);
        if (packets_.empty() && commands_.empty() && !exiting_.load())
            packetData_.waitFor(lock_, kIdleWaitMs);
    }
    velk::log(kModule, velk::LevelInfo, "主控制器退出");
}

bool RcvController::DrainIfFull() {
    if (velk::RunParams::instance().checkTraffic.load() == 0) return false;
    MutexLock g(lock_);
    if (packets_.size() <= kDrainAbove) return false;
    velk::log(kModule, velk::LevelDetail, "数据队列满，请检查!");
    // Decoded and counted, sequence tracking goes on; the data are lost.
    while (!packets_.empty()) {
        Packet::Ptr p = std::move(packets_.front());
        packets_.pop_front();
        DealPacket(context_, p, false, this);
    }
    packetSpace_.notifyAll();
    return true;
}

int RcvController::TakePacket() {
    Packet::Ptr p;
    {
        MutexLock g(lock_);
        if (packets_.empty()) return 0;
        p = std::move(packets_.front());
        packets_.pop_front();
        packetSpace_.notify();
    }
    DealPacket(context_, p, true, this);
    return 1;
}

int RcvController::TakeCommand() {
    Command c;
    {
        MutexLock g(lock_);
        if (commands_.empty()) return 0;
        c = commands_.front();
        commands_.pop_front();
        commandSpace_.notify();
    }
    RunCommand(c);
    return 1;
}

void RcvController::RunCommand(const Command& command) {
    if (command.type == kCheckChannels) {
        CheckChannels();
        return;
    }
    velk::log(kModule, velk::LevelInfo, "unkown command type %d", int(command.type));
}

void RcvController::CheckChannels() {
    if (context_.options.tcpMode()) {
        mcastStatus_.set(0);
        return;
    }
    ChannelState* primary = context_.channel(context_.primaryIndex.get());
    ChannelState* backup = context_.channel(context_.backupIndex.get());
    ChannelState* active = context_.activeChannel();
    if (primary == nullptr || backup == nullptr || active == nullptr) return;
    const uint32_t now = platform::TickCount();
    auto silence = [now](const ChannelState* c) { return uint32_t(now - c->lastRecvTick); };

    if (silence(active) > kSwitchAfterMs) {
        int32_t best = context_.activeIndex.get();
        if (silence(primary) < kSwitchAfterMs)
            best = context_.primaryIndex.get();
        else if (silence(backup) < kSwitchAfterMs)
            best = context_.backupIndex.get();
        if (best != context_.activeIndex.get()) {
            ChannelState* next = context_.channel(best);
            velk::log(kModule, velk::LevelWarn, "信道 %d 接收行情不正常，现转由信道 %d 继续接收",
                      int(active->channelId), int(next->channelId));
            context_.activeIndex.set(best);
            // Its next packet starts a new sequence without a loss report.
            next->nextSeq = 0;
        }
    }
    const bool alive = silence(primary) <= kMcastAliveMs || silence(backup) <= kMcastAliveMs;
    mcastStatus_.set(alive ? 1 : 0);
}

// --- failover timer ----------------------------------------------------------

void RcvController::ScheduleFailoverTimer() {
    MutexLock g(timerGate_->lock);
    if (timerGate_->target == nullptr) return;
    timerGate_->timerId =
        Timer::instance().schedule(new FailoverCallback(timerGate_), kFailoverPeriodMs, false);
}

void RcvController::CancelFailoverTimer() {
    MutexLock g(timerGate_->lock);
    timerGate_->target = nullptr;
    if (timerGate_->timerId != Timer::invalidId) {
        Timer::instance().cancel(timerGate_->timerId);
        timerGate_->timerId = Timer::invalidId;
    }
}

void RcvController::OnFailoverTimer() {
    if (exiting_.load()) return;
    PostCommand(Command{kCheckChannels, 0});
    if (exiting_.load()) return;
    ScheduleFailoverTimer();
}

int32_t RcvController::GetFailoverTimerId() const {
    MutexLock g(timerGate_->lock);
    return timerGate_->timerId;
}

// --- dispatch ------------------------------------------------------------------

void RcvController::dealSessionMessage(const Packet::Ptr& packet) {
    dropUnhandled(*packet);
}

void RcvController::queueQuotePacket(const Packet::Ptr& packet) {
    if (quoteHandler_) quoteHandler_->putPacket(packet);
}

void RcvController::queueFilePacket(const Packet::Ptr& packet) {
    dropUnhandled(*packet);
}

void RcvController::dropUnhandled(const Packet& packet) {
    unhandledPackets_.add(1);
    bool& reported = unhandledReported_[packet.type()];
    if (reported) return;
    reported = true;
    velk::log(kModule, velk::LevelInfo, "本程序版本不处理类型为 %d 的包，已丢弃（此后不再提示）",
              int(packet.type()));
}

// --- getters and calls from other parts ----------------------------------------

const char* RcvController::GetLastTypeName() const {
    return PacketTypeName(GetLastType());
}

uint32_t RcvController::ReceptionAge() {
    uint32_t tick = context_.lastRecvTick.get();
    const uint32_t before = tick;
    const uint32_t age = velk::util::ElapsedSince(tick);
    if (tick != before) context_.lastRecvTick.set(tick);
    return age;
}

int32_t RcvController::GetMcastStatus() const {
    return context_.options.tcpMode() ? 0 : mcastStatus_.get();
}

std::string RcvController::GetNoticeText() const {
    MutexLock g(textLock_);
    return noticeText_;
}

bool RcvController::IsTradingState() const {
    if (!quoteHandler_) return false;
    const int16_t state = quoteHandler_->marketState();
    return state == 30 || state == 40 || state == 55;
}

std::string RcvController::GetPassword() const {
    MutexLock g(textLock_);
    return password_;
}

void RcvController::SetPassword(const std::string& password) {
    MutexLock g(textLock_);
    password_ = password;
}

int32_t RcvController::GetVersionDate() {
    return resources::VersionDateNumber();
}

void RcvController::ReportInvalidVersion() {
    bool expected = false;
    if (!exiting_.compare_exchange_strong(expected, true)) return;
    ReleaseWaiters();
    platform::SendToMainWindow(platform::kMsgInvalidVersion);
}

void RcvController::OpenDocument(const std::string& path) {
    if (exiting_.load()) return;
    platform::SendToMainWindow(platform::kMsgOpenDocument, path);
}

void RcvController::ReconnectTcp() {
    // There is no TCP connection to drop in this build.
}

CDbf& RcvController::quoteTable(QuoteTableId id) {
    static CDbf none;  // an empty schema: no table file accepts it
    return IsQuoteTableId(id) ? *tables_[id] : none;
}
