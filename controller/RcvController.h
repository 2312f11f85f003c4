#pragma once
// The hub of the station: owns the multicast receivers and the quote
// handler, funnels every received packet through one bounded queue into one
// worker thread that decodes and dispatches it, keeps the channel states
// with the failover between the two multicast channels, and keeps the
// counters the window and the monitor show.
//
// One per process (GetInstance); tests make their own with Create.
//
// Threads: the window thread (Init, Start, Stop, the getters), the receiver
// threads (EnqueuePacket), the timer thread (the failover timer posts a
// command), the quote handler's thread (the QuoteHost calls) and the worker
// (everything else). One lock guards both queues; counters, channel states
// and the active channel are written by the worker alone.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/CRcvConf.h"
#include "controller/DecodeContext.h"
#include "controller/DecodePacket.h"
#include "controller/Packet.h"
#include "dbf/CDbf.h"
#include "quotes/QuoteTables.h"
#include "runtime/concurrent.h"

class TyQuotaHandler;
class McastCommHandler;

class RcvController : private PacketReceivers {
  public:
    using Ptr = velk::concurrent::SharedPtr<RcvController>;

    struct Command {
        int32_t type = 0;
        int32_t arg = 0;
    };
    static constexpr int32_t kCheckChannels = 10;

    // Queued packets (and commands) at most; producers wait beyond.
    static constexpr size_t kQueueLimit = 2048;
    // With checkTraffic on, more than this many queued packets are drained.
    static constexpr size_t kDrainAbove = 2043;
    static constexpr int32_t kFailoverPeriodMs = 3000;
    // The active channel is replaced after more than this much silence.
    static constexpr uint32_t kSwitchAfterMs = 30000;
    // Multicast counts as alive while a channel delivered within this time.
    static constexpr uint32_t kMcastAliveMs = 60000;
    // The worker waits this long for work before it looks at exiting.
    static constexpr uint32_t kIdleWaitMs = 10;

    // The process-wide controller, created with conf on the first call;
    // later calls return it whatever they pass.
    static Ptr GetInstance(const CRcvConf& conf);
    // The process-wide controller, or null before it was created.
    static Ptr GetInstance();
    // Lets go of the process-wide reference (at the end of the run).
    static void ReleaseInstance();
    // A controller of its own, outside the process-wide one (tests).
    static Ptr Create(const CRcvConf& conf);

    ~RcvController();
    RcvController(const RcvController&) = delete;
    RcvController& operator=(const RcvController&) = delete;

    // --- lifecycle (window thread) ---------------------------------------
    int Init();
    int Start();
    // Stops everything in order and logs the totals; also releases
    // receivers waiting on a full queue. Safe to call more than once and
    // before Init.
    void Stop();

    // --- producers ---------------------------------------------------------
    // Queues a received packet, waiting while the queue is full. -1 (the
    // packet dropped) once the controller is exiting.
    int EnqueuePacket(const Packet::Ptr& packet);
    // Queues a command for the worker, waiting while the queue is full; -1
    // once the controller is exiting.
    int PostCommand(const Command& command);

    // --- read without a lock -------------------------------------------------
    int64_t GetBytesReceived() const { return context_.bytesReceived.get(); }
    int64_t GetPacketsReceived() const { return context_.packetsReceived.get(); }
    int64_t GetErrorPackets() const { return context_.errorPackets.get(); }
    int64_t GetLostPackets() const { return context_.lostPackets.get(); }
    int64_t GetOutOfOrderPackets() const { return context_.outOfOrderPackets.get(); }
    int8_t GetLastType() const { return context_.lastType.get(); }
    // The display name of the last packet's type.
    const char* GetLastTypeName() const;
    uint32_t GetLastRecvTick() const { return context_.lastRecvTick.get(); }
    uint32_t GetLastChannelId() const { return context_.lastChannelId.get(); }
    // Milliseconds since the last packet was taken. A tick of 0 (nothing
    // received yet) or one ahead of the clock is set to now and gives 0, so
    // a station that never receives shows its silence from its start.
    uint32_t ReceptionAge();
    int GetQueueLength() const;
    int32_t GetMcastStatus() const;
    // The TCP session's connection state; 0 (this build has no TCP session).
    int32_t GetTcpStatus() const { return 0; }
    std::string GetNoticeText() const;
    int32_t GetAlertCount() const { return alertCount_.load(); }
    // The window counts the alerts down as it shows them; file reception
    // sets them.
    void SetAlertCount(int32_t n) { alertCount_.store(n); }
    // Packets that were decoded but had nowhere to go in this build (session
    // and file packets).
    int64_t GetUnhandledPackets() const { return unhandledPackets_.get(); }
    bool IsInitialised() const { return initialised_.load(); }
    bool IsExiting() const { return exiting_.load(); }
    bool IsTradingState() const;
    TyQuotaHandler* GetQuoteHandler() const { return quoteHandler_.get(); }
    // The number of files received; 0 (this build has no file reception).
    int32_t GetReceivedFileCount() const { return 0; }
    // An upgrade was received while a newer version is known to exist.
    bool IsUpgradeReady() const { return newVersionAvailable_.load() && upgradeReceived_.load(); }
    void SetUpgradeReceived() { upgradeReceived_.store(true); }
    bool IsNewVersionAvailable() const { return newVersionAvailable_.load(); }
    const CRcvConf& GetConfig() const { return conf_; }

    std::string GetStationId() const { return conf_.usrId; }
    std::string GetPassword() const;
    void SetPassword(const std::string& password);
    // The program's version date, yyyymmdd.
    static int32_t GetVersionDate();

    // --- called by other parts ------------------------------------------------
    // The master station refuses this version: stop and tell the window.
    void ReportInvalidVersion();
    // Asks the window to open a received document.
    void OpenDocument(const std::string& path);
    // Drops the TCP connection and moves to the next server; no effect here,
    // as this build has no TCP session.
    void ReconnectTcp();
    void SetNewVersionAvailable() { newVersionAvailable_.store(true); }
    ChannelState* GetChannel(int32_t index) { return context_.channel(index); }
    ChannelState* FindChannel(uint32_t channelId) { return context_.findChannel(channelId); }
    int32_t GetActiveIndex() const { return context_.activeIndex.get(); }
    int32_t GetPrimaryIndex() const { return context_.primaryIndex.get(); }
    int32_t GetBackupIndex() const { return context_.backupIndex.get(); }
    CDbf& quoteTable(QuoteTableId id);

    // --- worker steps, exposed so that tests can run them one at a time ---
    // The channel check of command 10.
    void CheckChannels();
    // Drains a full queue when checkTraffic is on; true when it did.
    bool DrainIfFull();
    // Takes and deals with one packet; 1 when there was one, else 0.
    int TakePacket();
    // Takes and runs one command; 1 when there was one, else 0.
    int TakeCommand();
    // The failover timer's callback: posts the check and schedules itself
    // again.
    void OnFailoverTimer();
    int32_t GetFailoverTimerId() const;
    DecodeContext& decodeContext() { return context_; }

  private:
    class HostLink;
    struct TimerGate;
    class FailoverCallback;

    explicit RcvController(const CRcvConf& conf);

    // PacketReceivers: where decoded packets go.
    void dealSessionMessage(const Packet::Ptr& packet) override;
    void queueQuotePacket(const Packet::Ptr& packet) override;
    void queueFilePacket(const Packet::Ptr& packet) override;
    void dropUnhandled(const Packet& packet);

    void WorkerLoop();
    int StartCommunication();
    void StopCommunication();
    void ScheduleFailoverTimer();
    void CancelFailoverTimer();
    void RunCommand(const Command& command);
    // Wakes every thread waiting on a queue once exiting is set.
    void ReleaseWaiters();
    void LogTcpTablesUnavailable();

    CRcvConf conf_;
    std::atomic<bool> exiting_{false};
    std::atomic<bool> initialised_{false};
    std::atomic<bool> stopped_{false};
    Published<int32_t> mcastStatus_{1};
    std::atomic<int32_t> alertCount_{0};
    std::atomic<bool> newVersionAvailable_{false};
    std::atomic<bool> upgradeReceived_{false};
    Published<int64_t> unhandledPackets_;
    mutable velk::concurrent::Mutex textLock_;  // noticeText_ and the passwords
    std::string noticeText_;
    std::string password_;

    DecodeContext context_;
    std::unique_ptr<CDbf> tables_[kQuoteTableCount];
    // Packet types already reported as not handled by this build.
    std::map<int, bool> unhandledReported_;

    velk::concurrent::SharedPtr<HostLink> link_;
    velk::concurrent::SharedPtr<TyQuotaHandler> quoteHandler_;
    std::vector<velk::concurrent::SharedPtr<McastCommHandler>> mcastReceivers_;

    mutable velk::concurrent::Mutex lock_;  // both queues
    std::deque<Packet::Ptr> packets_;
    velk::concurrent::Condition packetSpace_;
    velk::concurrent::Condition packetData_;
    std::deque<Command> commands_;
    velk::concurrent::Condition commandSpace_;
    velk::concurrent::Condition commandData_;
    velk::concurrent::SharedPtr<velk::concurrent::Thread> worker_;

    velk::concurrent::SharedPtr<TimerGate> timerGate_;
};
