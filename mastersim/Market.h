#pragma once
// The generated market: securities with six-digit codes and GBK names, prices
// and volumes that move within their limits while the market is open, an
// order book of five levels, market-making quotes, and the agreement-transfer
// declarations that come and go. Everything follows from the seed.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mastersim/Layout.h"
#include "mastersim/Rng.h"

namespace mastersim {

struct Security {
    std::string code;         // six ASCII digits
    std::string name;         // GBK, at most 8 bytes (four Chinese characters)
    std::string englishName;  // ASCII, at most 20 bytes
    std::string isin;         // 12 bytes
    std::string industry;     // 5 bytes
    char transferType = 'C';  // 'C' competitive, 'M' market making, 'T' agreement
    int32_t listDate = 0;     // yyyymmdd
    int64_t totalShares = 0;
    int64_t floatShares = 0;
    int32_t epsLastYear = 0;  // 4 decimals
    int32_t epsThisYear = 0;
    int32_t makers = 0;  // number of market makers

    // Thousandths of a yuan; 0 = none yet.
    int32_t prevClose = 0;
    int32_t open = 0;
    int32_t last = 0;
    int32_t previousLast = 0;
    int32_t high = 0;
    int32_t low = 0;
    int64_t volume = 0;
    int64_t amount = 0;  // thousandths of a yuan
    int32_t trades = 0;
    int32_t bidPrice[5] = {};
    int64_t bidQty[5] = {};
    int32_t askPrice[5] = {};
    int64_t askQty[5] = {};
    int32_t infoTime = 0;  // hhmmss of the last change of its information

    int32_t upperLimit() const;
    int32_t lowerLimit() const;
};

// One agreement-transfer investor declaration.
struct Declaration {
    int security = 0;    // index into the securities
    int32_t number = 0;  // XYYDH, unique over the day
    std::string unit;    // XYJYDY, six characters
    bool buy = true;
    int64_t quantity = 0;
    int32_t price = 0;  // thousandths
    int32_t time = 0;   // hhmmss
};

class Market {
  public:
    Market(int securities, uint64_t seed, int32_t tradingDate);

    int size() const { return int(securities_.size()); }
    const Security& security(int i) const { return securities_[size_t(i)]; }
    int32_t tradingDate() const { return tradingDate_; }

    // Lets market time pass up to hhmmss: while the market is open some
    // securities trade; while orders are allowed the books move.
    void step(int32_t hhmmss, bool open, bool ordersAllowed);
    // The same for a given number of market minutes, whatever the clock says
    // (rounds made ahead of time for load runs); hhmmss stamps the changes.
    void evolve(double minutes, int32_t hhmmss, bool open, bool ordersAllowed);

    // Binary records of the securities, in the documented layouts.
    void quoteRecord(int i, uint8_t* out) const;  // NQHQ.DBF, 198 bytes
    void infoRecord(int i, uint8_t* out) const;   // NQXX.DBF, 186 bytes
    // The special records, carrying the data time.
    void quoteSpecial(int32_t hhmmss, int64_t roundMark, uint8_t* out) const;
    void infoSpecial(int32_t hhmmsscc, uint8_t* out) const;

    // Market-making quotes: two per market-making security (bid, ask).
    int makerQuoteCount() const { return int(makerSecurities_.size()) * 2; }
    void makerQuoteRecord(int k, uint8_t* out) const;  // NQZSXX.DBF, 31 bytes
    void makerSpecial(int32_t hhmmss, uint8_t* out) const;

    // Declarations: the changes of one delta (new, changed, withdrawn).
    struct DeclarationChange {
        enum Kind { Add, Change, Withdraw } kind;
        Declaration declaration;
    };
    std::vector<DeclarationChange> moveDeclarations(int32_t hhmmss);
    const std::map<std::pair<int, int32_t>, Declaration>& activeDeclarations() const {
        return active_;
    }
    void declarationRecord(const Declaration& d, char status, uint8_t* out) const;
    static void declarationSpecial(int32_t hhmmss, uint8_t* out);

  private:
    void makeSecurities(int n);
    void trade(Security& s);
    void moveBook(Security& s);
    Declaration newDeclaration(int32_t hhmmss);

    Rng rng_;
    int32_t tradingDate_;
    std::vector<Security> securities_;
    std::vector<int> makerSecurities_;
    std::vector<int32_t> makerTime_;
    std::map<std::pair<int, int32_t>, Declaration> active_;
    int32_t nextDeclarationNo_ = 1;
    int32_t lastStep_ = 0;
};

// hhmmss plus seconds (no wrap past midnight).
int32_t AddSeconds(int32_t hhmmss, int64_t seconds);
int64_t SecondsOfDay(int32_t hhmmss);
int32_t HhmmssOf(int64_t secondsOfDay);

}  // namespace mastersim
