#pragma once
// A declaration table (NQXYXX.DBF or NQFGKSBXX.DBF): declarations come and go
// during the day and reach us as numbered rounds, a base round with every
// declaration in force and delta rounds with what changed since, each split
// over as many packets as needed.
//
// A declaration is known by its key. New keys are appended, changed ones are
// rewritten in place, and no record is ever removed: a declaration no longer
// in force keeps its record with the status field set to "0". Each round part
// is committed to the file once all its packets are in; a commit that fails
// makes us rebuild our picture from the file, so memory never claims more than
// the file holds.
//
// Runs on the quote handler's worker thread only.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "controller/Packet.h"
#include "dbf/CDbf.h"
#include "quotes/QuoteContext.h"
#include "quotes/QuoteRecords.h"
#include "quotes/QuoteTables.h"

// Header of a declaration packet's payload (18 bytes, little-endian, packed).
struct DeclarationHeader {
    LeInt32 totalCount;  // entries of the whole round part, over all its packets
    uint8_t unused[4];
    LeInt16 mode;   // 0: base round; otherwise a delta round
    LeInt32 round;  // round number
    LeInt32 delta;  // delta number within the round
};
static_assert(sizeof(DeclarationHeader) == 18 && alignof(DeclarationHeader) == 1);

// One entry of a declaration packet: 44 bytes for NQXYXX.DBF, 46 for
// NQFGKSBXX.DBF.
template <typename Rec>
struct DeclarationEntry {
    LeInt32 entryNo;    // 0: the special record
    LeInt16 operation;  // in delta packets: 2 withdraws the declaration
    Rec rec;
};
static_assert(sizeof(DeclarationEntry<NQXYXX_OrderRec_t>) == 44);
static_assert(sizeof(DeclarationEntry<NQFGKSBXX_OrderRec_t>) == 46);

class DetailedQuota {
  public:
    // Records read from the file per ReadRecords call.
    static constexpr uint32_t kLoadBlock = 5000;
    // Longest image of the two tables (NQFGKSBXX.DBF).
    static constexpr size_t kMaxImage = 54;
    // Pause between two recovery attempts.
    static constexpr uint32_t kRecoveryPauseMs = 1000;

    // id: kNqxyxx or kNqfgksbxx. The context gives the data times, takes the
    // published record count and carries the handler's stop flag, which ends
    // the recovery loop; stopRequested, when given, is asked instead of it.
    DetailedQuota(QuoteTableId id, QuoteContext& context,
                  std::function<bool()> stopRequested = nullptr);
    DetailedQuota(const DetailedQuota&) = delete;
    DetailedQuota& operator=(const DetailedQuota&) = delete;

    // Opens the table file at path with the controller's table object and
    // loads it. 0, or -1 with the failure logged (a wrong special record is
    // shown in a box).
    int open(CDbf& table, const std::string& path);

    // One declaration packet (type 23 or 26), decoded.
    void onPacket(const Packet& packet);

    // Every active declaration counts as withdrawn until the base round
    // sends it again.
    void beginBaseRound();
    // Takes one received declaration into memory (written at the next commit).
    void apply(const NQXYXX_OrderRec_t& rec);
    void apply(const NQFGKSBXX_OrderRec_t& rec);
    // Writes what changed since the last commit. 0 or the failing operation's
    // code.
    int commit();
    // commit; on failure rebuild from the file, one attempt a second, until it
    // works or the handler stops.
    void commitWithRecovery(int32_t round, int32_t delta);
    // Forgets everything and reads the file again. 0 or a failure code.
    int recover();
    // Reads the file into the (empty) maps. 0 or a failure code.
    int load();

    // --- state, for the handler and tests ------------------------------------
    QuoteTableId id() const { return id_; }
    // tableId of the data model: the table's number once opened, 6 before.
    int32_t tableId() const { return tableId_; }
    int32_t tableCount() const { return context_.tableCount(id_); }
    int32_t curRound() const { return curRound_; }
    int32_t curDelta() const { return curDelta_; }
    int32_t received() const { return received_; }
    bool partDone() const { return partDone_; }
    bool specialSeen() const { return specialSeen_; }
    bool specialInFile() const { return specialInFile_; }
    size_t activeCount() const { return active_.size(); }
    size_t knownCount() const { return all_.size(); }
    size_t pendingCount() const { return pending_.size(); }
    size_t changedCount() const { return changed_.size(); }
    // Record number and current image of a key; -1 and empty when unknown.
    int32_t recordNoOf(int64_t key) const;
    std::string imageOf(int64_t key) const;
    bool isActive(int64_t key) const { return active_.count(key) != 0; }
    // Records the file held at the last load or commit.
    uint32_t fileRecords() const { return fileRecords_; }

  private:
    struct Known {
        int32_t recordNo = 0;
        std::array<char, kMaxImage> image{};
    };
    struct Texts;
    static const Texts& TextsFor(QuoteTableId id);

    template <typename Rec>
    void dealEntries(const uint8_t* entries, uint32_t n, int16_t mode);
    void applyImage(const char* image, bool special);
    bool startPart(int16_t mode, int32_t round, int32_t delta);
    bool recoverUntilDone();
    bool stopRequested() const;
    void publishCount();
    void clearMaps();
    bool layoutMatches() const;
    void waitBeforeRetry();
    std::string_view view(const Known& k) const { return {k.image.data(), imageLength_}; }

    const QuoteTableId id_;
    const Texts& texts_;
    const size_t imageLength_;
    const size_t statusOffset_;
    QuoteContext& context_;
    std::function<bool()> stopRequested_;

    // Round state.
    int32_t curRound_ = -1;
    int32_t curDelta_ = -1;
    int32_t received_ = 0;
    bool partDone_ = false;
    // A recovery the stop flag cut short: the maps may disagree with the file,
    // so nothing is taken in before the next recovery succeeds.
    bool needsRecovery_ = false;
    bool reportedUnopened_ = false;

    // Keys of the new declarations, in arrival order; their images are in
    // all_ and their record numbers follow the file's last record.
    std::vector<int64_t> pending_;
    std::unordered_map<int64_t, Known> all_;
    // Declarations of the file to rewrite at the next commit: true the whole
    // image, false only the status field to "0" (the file still holds the
    // image with "1").
    std::map<int64_t, bool> changed_;
    std::unordered_set<int64_t> active_;
    bool specialSeen_ = false;
    bool specialInFile_ = false;
    uint32_t fileRecords_ = 0;

    std::string path_;
    CDbf* table_ = nullptr;
    int32_t tableId_ = 6;
    std::vector<char> block_;  // commit and load buffer
};
