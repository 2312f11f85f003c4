#include "mastersim/Market.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "platform/Text.h"

namespace mastersim {

namespace {

// Characters that company names of this market are made of (UTF-8 here,
// GBK in the records).
constexpr const char* kNameChars[] = {
    "华", "东", "科", "技", "信", "息", "电", "子", "网", "络", "能", "源", "生", "物",
    "医", "药", "环", "保", "材", "料", "文", "化", "传", "媒", "农", "业", "食", "品",
    "机", "械", "设", "备", "智", "金", "融", "服", "务", "新", "天", "中", "创", "恒",
    "达", "安", "泰", "通", "联", "合", "鑫", "盛", "宏", "远", "博", "明", "星", "光",
    "海", "洋", "山", "川", "龙", "凤", "瑞", "丰", "佳", "和", "润", "德", "利", "兴"};
constexpr const char* kSyllables[] = {"HUA",  "DONG", "KE",    "JI",  "XIN",  "DIAN", "WANG",
                                      "NENG", "YUAN", "SHENG", "YAO", "HUAN", "BAO",  "CAI",
                                      "WEN",  "NONG", "ZHI",   "JIN", "RONG", "TIAN", "ZHONG",
                                      "HENG", "DA",   "AN",    "TAI", "TONG", "LIAN", "HE"};
constexpr const char* kEnglishSuffix[] = {"TECH", "BIO",   "ENERGY", "MEDIA",
                                          "FOOD", "EQUIP", "INFO"};

// Code ranges of the market's securities; used in this order, the last
// range only when the others are used up.
struct CodeRange {
    int first, last;
};
constexpr CodeRange kCodeRanges[] = {{430001, 430999}, {830001, 839999}, {870001, 879999}};
constexpr CodeRange kOverflowRange = {100000, 999999};

// The field layouts, looked up once.
struct Fields {
    const FieldLayout* hq[35];
    const FieldLayout* xx[42];
    const FieldLayout* zs[7];
    const FieldLayout* xy[9];
    Fields() {
        for (size_t i = 0; i < 35; ++i) hq[i] = &NqhqLayout().fields[i];
        for (size_t i = 0; i < 42; ++i) xx[i] = &NqxxLayout().fields[i];
        for (size_t i = 0; i < 7; ++i) zs[i] = &NqzsxxLayout().fields[i];
        for (size_t i = 0; i < 9; ++i) xy[i] = &NqxyxxLayout().fields[i];
    }
};
const Fields& F() {
    static const Fields f;
    return f;
}

void Text(const FieldLayout* f, uint8_t* rec, std::string_view v) {
    std::memset(rec + f->binOffset, ' ', f->binWidth);
    std::memcpy(rec + f->binOffset, v.data(), std::min<size_t>(v.size(), f->binWidth));
}
void Num(const FieldLayout* f, uint8_t* rec, int64_t v) {
    WriteNumber(*f, rec, v);
}
void Blank(const RecordLayout& l, uint8_t* rec) {
    std::memset(rec, 0, l.recordSize);
    for (const FieldLayout& f : l.fields)
        if (f.bin == BinType::Text) std::memset(rec + f.binOffset, ' ', f.binWidth);
}
std::string Digits(int64_t v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(v));
    return buf;
}
int32_t RoundDownToTick(int64_t v) {
    return int32_t(v / 10 * 10);
}
int32_t RoundUpToTick(int64_t v) {
    return int32_t((v + 9) / 10 * 10);
}

}  // namespace

int64_t SecondsOfDay(int32_t t) {
    return int64_t(t / 10000) * 3600 + (t / 100 % 100) * 60 + t % 100;
}
int32_t HhmmssOf(int64_t s) {
    if (s < 0) s = 0;
    if (s > 86399) s = 86399;
    return int32_t(s / 3600 * 10000 + s / 60 % 60 * 100 + s % 60);
}
int32_t AddSeconds(int32_t hhmmss, int64_t seconds) {
    return HhmmssOf(SecondsOfDay(hhmmss) + seconds);
}

int32_t Security::upperLimit() const {
    return RoundDownToTick(int64_t(prevClose) * 11 / 10);
}
int32_t Security::lowerLimit() const {
    return RoundUpToTick(int64_t(prevClose) * 9 / 10);
}

Market::Market(int securities, uint64_t seed, int32_t tradingDate)
    : rng_(seed), tradingDate_(tradingDate) {
    makeSecurities(std::max(securities, 0));
}

void Market::makeSecurities(int n) {
    std::vector<int> pool;
    for (const CodeRange& r : kCodeRanges)
        for (int c = r.first; c <= r.last; ++c) pool.push_back(c);
    if (size_t(n) > pool.size()) {
        pool.clear();
        for (int c = kOverflowRange.first; c <= kOverflowRange.last; ++c) pool.push_back(c);
    }
    // A partial shuffle picks n distinct codes.
    for (size_t i = 0; i < size_t(n) && i < pool.size(); ++i)
        std::swap(pool[i], pool[i + rng_.below(pool.size() - i)]);
    pool.resize(std::min(size_t(n), pool.size()));
    std::sort(pool.begin(), pool.end());

    securities_.resize(pool.size());
    for (size_t i = 0; i < pool.size(); ++i) {
        Security& s = securities_[i];
        s.code = Digits(pool[i], 6);
        const int chars = rng_.chance(0.75) ? 4 : int(rng_.range(2, 3));
        std::string utf8;
        for (int k = 0; k < chars; ++k) utf8 += kNameChars[rng_.below(std::size(kNameChars))];
        s.name = platform::Utf8ToGbk(utf8);
        std::string en = std::string(kSyllables[rng_.below(std::size(kSyllables))]) +
                         kSyllables[rng_.below(std::size(kSyllables))] + " " +
                         kEnglishSuffix[rng_.below(std::size(kEnglishSuffix))];
        s.englishName = en.substr(0, 20);
        s.isin = "CNE1" + s.code + "0" + char('0' + rng_.below(10));
        s.industry = std::string(1, char('A' + rng_.below(19))) + Digits(rng_.range(1, 90), 2);
        const uint64_t kind = rng_.below(100);
        s.transferType = kind < 15 ? 'M' : kind < 25 ? 'T' : 'C';
        s.makers = s.transferType == 'M' ? int32_t(rng_.range(2, 9)) : 0;
        s.listDate =
            int32_t(rng_.range(2006, 2016) * 10000 + rng_.range(1, 12) * 100 + rng_.range(1, 28));
        s.totalShares = rng_.range(5, 800) * 1000000;
        s.floatShares = s.totalShares / int64_t(rng_.range(1, 4));
        s.epsLastYear = int32_t(rng_.range(-2000, 9000));
        s.epsThisYear = int32_t(rng_.range(-1000, 5000));
        s.prevClose = int32_t(rng_.range(50, 5000) * 10);
        s.infoTime = 0;
        moveBook(s);
        if (s.transferType == 'M') makerSecurities_.push_back(int(i));
    }
    makerTime_.assign(makerSecurities_.size(), 0);
}

void Market::moveBook(Security& s) {
    const int32_t ref = s.last != 0 ? s.last : s.prevClose;
    for (int i = 0; i < 5; ++i) {
        const int32_t bid = ref - 10 * (i + 1);
        const int32_t ask = ref + 10 * (i + 1);
        const bool bidOk = bid >= s.lowerLimit() && bid > 0;
        const bool askOk = ask <= s.upperLimit();
        s.bidPrice[i] = bidOk ? bid : 0;
        s.bidQty[i] = bidOk ? rng_.range(1, 200) * 100 : 0;
        s.askPrice[i] = askOk ? ask : 0;
        s.askQty[i] = askOk ? rng_.range(1, 200) * 100 : 0;
    }
}

void Market::trade(Security& s) {
    const int32_t base = s.last != 0 ? s.last : s.prevClose;
    const int32_t price =
        std::clamp(int32_t(base + rng_.range(-3, 3) * 10), s.lowerLimit(), s.upperLimit());
    const int64_t qty = rng_.range(1, 50) * 100;
    s.previousLast = s.last != 0 ? s.last : s.prevClose;
    s.last = price;
    if (s.open == 0) s.open = price;
    s.high = std::max(s.high, price);
    s.low = s.low == 0 ? price : std::min(s.low, price);
    s.volume += qty;
    s.amount += int64_t(price) * qty;
    s.trades += int32_t(rng_.range(1, 3));
    moveBook(s);
}

void Market::step(int32_t hhmmss, bool open, bool ordersAllowed) {
    const int64_t seconds = SecondsOfDay(hhmmss) - SecondsOfDay(lastStep_);
    if (seconds <= 0) return;
    const bool first = lastStep_ == 0;
    lastStep_ = hhmmss;
    if (!first) evolve(double(seconds) / 60.0, hhmmss, open, ordersAllowed);
}

void Market::evolve(double minutes, int32_t hhmmss, bool open, bool ordersAllowed) {
    if (securities_.empty() || minutes <= 0) return;
    // About 2 % of the securities trade in a market minute, 1 % change
    // their books while orders are allowed, and a few change their
    // information or market-making quotes.
    auto picks = [&](double perMinute) {
        const double expected = double(securities_.size()) * std::min(1.0, perMinute * minutes);
        int64_t k = int64_t(expected);
        if (rng_.unit() < expected - double(k)) ++k;
        return k;
    };
    if (open) {
        for (int64_t k = picks(0.02); k > 0; --k)
            trade(securities_[rng_.below(securities_.size())]);
    }
    if (ordersAllowed) {
        for (int64_t k = picks(0.01); k > 0; --k)
            moveBook(securities_[rng_.below(securities_.size())]);
        for (size_t m = 0; m < makerSecurities_.size(); ++m)
            if (rng_.chance(std::min(1.0, 0.05 * minutes))) makerTime_[m] = hhmmss;
    }
    for (int64_t k = picks(0.001); k > 0; --k)
        securities_[rng_.below(securities_.size())].infoTime = hhmmss;
}

void Market::quoteRecord(int i, uint8_t* out) const {
    const Security& s = securities_[size_t(i)];
    const auto& f = F().hq;
    Blank(NqhqLayout(), out);
    Text(f[0], out, s.code);
    Text(f[1], out, s.name);
    Num(f[2], out, s.prevClose);
    Num(f[3], out, s.open);
    Num(f[4], out, s.last);
    Num(f[5], out, s.volume);
    Num(f[6], out, s.amount);
    Num(f[7], out, s.trades);
    Num(f[8], out, s.high);
    Num(f[9], out, s.low);
    const int32_t price = s.last != 0 ? s.last : s.prevClose;
    auto pe = [&](int32_t eps) -> int64_t {
        if (eps <= 0) return 0;
        return std::min<int64_t>(int64_t(price) * 100000 / eps, 99999999);
    };
    Num(f[10], out, pe(s.epsLastYear));
    Num(f[11], out, pe(s.epsThisYear));
    Num(f[12], out, s.last != 0 ? s.last - s.prevClose : 0);
    Num(f[13], out, s.last != 0 ? s.last - s.previousLast : 0);
    Num(f[14], out, 0);
    // Sell levels 5..1, then buy levels 1..5.
    for (int lvl = 0; lvl < 5; ++lvl) {
        Num(f[15 + 2 * lvl], out, s.askPrice[4 - lvl]);
        Num(f[16 + 2 * lvl], out, s.askQty[4 - lvl]);
        Num(f[25 + 2 * lvl], out, s.bidPrice[lvl]);
        Num(f[26 + 2 * lvl], out, s.bidQty[lvl]);
    }
}

void Market::quoteSpecial(int32_t hhmmss, int64_t roundMark, uint8_t* out) const {
    const auto& f = F().hq;
    Blank(NqhqLayout(), out);
    Text(f[0], out, "000000");
    Text(f[1], out, Digits(tradingDate_, 8));
    Num(f[5], out, roundMark);
    Num(f[7], out, hhmmss);
    Num(f[32], out, hhmmss);        // HQBSL4
    Num(f[34], out, tradingDate_);  // HQBSL5
}

void Market::infoRecord(int i, uint8_t* out) const {
    const Security& s = securities_[size_t(i)];
    const auto& f = F().xx;
    Blank(NqxxLayout(), out);
    Text(f[0], out, s.code);
    Text(f[1], out, s.name);
    Text(f[2], out, s.englishName);
    Text(f[3], out, "");
    Text(f[4], out, s.isin);
    Num(f[5], out, 100);
    Text(f[6], out, s.industry);
    Text(f[7], out, "00");
    Num(f[8], out, 100);
    Num(f[9], out, s.totalShares);
    Num(f[10], out, s.floatShares);
    Num(f[11], out, s.epsLastYear);
    Num(f[12], out, s.epsThisYear);
    Num(f[13], out, 500);  // 0.0005, cut to 7 characters in the table
    Num(f[14], out, 1000);
    Num(f[15], out, 25);
    Num(f[16], out, s.listDate);
    Num(f[17], out, 0);
    Num(f[18], out, 0);
    Num(f[19], out, 0);
    Num(f[20], out, 100);
    Num(f[21], out, 1);
    Num(f[22], out, 1000);
    Num(f[23], out, 10);
    Num(f[24], out, 0);
    Num(f[25], out, 0);
    Num(f[26], out, s.transferType == 'C' ? 1 : 0);
    Num(f[27], out, s.upperLimit());
    Num(f[28], out, s.lowerLimit());
    Num(f[29], out, s.upperLimit());
    Num(f[30], out, s.lowerLimit());
    Text(f[31], out, "N");
    Num(f[32], out, 100);
    Text(f[33], out, "N");
    Text(f[34], out, "T");
    Text(f[35], out, std::string(1, s.transferType));
    Num(f[36], out, s.makers);
    Text(f[37], out, "N");
    Text(f[38], out, " ");
    Text(f[39], out, "N");
    Text(f[40], out, "");
    Num(f[41], out, s.infoTime);
}

void Market::infoSpecial(int32_t hhmmsscc, uint8_t* out) const {
    const auto& f = F().xx;
    Blank(NqxxLayout(), out);
    Text(f[0], out, "000000");
    Text(f[2], out, Digits(hhmmsscc, 8) + Digits(tradingDate_, 8));
}

void Market::makerQuoteRecord(int k, uint8_t* out) const {
    const size_t m = size_t(k / 2);
    const Security& s = securities_[size_t(makerSecurities_[m])];
    const bool ask = k % 2 == 1;
    const auto& f = F().zs;
    Blank(NqzsxxLayout(), out);
    const int32_t ref = s.last != 0 ? s.last : s.prevClose;
    Text(f[0], out, s.code);
    Text(f[1], out, ask ? "OS" : "OB");
    Num(f[2], out, (ask ? s.askQty[0] : s.bidQty[0]) * 10 + 1000);
    Num(f[3], out,
        ask ? (s.askPrice[0] != 0 ? s.askPrice[0] : ref)
            : (s.bidPrice[0] != 0 ? s.bidPrice[0] : ref));
    Text(f[4], out, "1");
    Text(f[5], out, Digits(makerTime_[m], 6));
    Num(f[6], out, 0);
}

void Market::makerSpecial(int32_t hhmmss, uint8_t* out) const {
    const auto& f = F().zs;
    Blank(NqzsxxLayout(), out);
    Text(f[0], out, "000000");
    Text(f[5], out, Digits(hhmmss, 6));
}

Declaration Market::newDeclaration(int32_t hhmmss) {
    Declaration d;
    d.security = int(rng_.below(securities_.size()));
    d.number = nextDeclarationNo_++;
    d.unit = Digits(rng_.range(1, 999999), 6);
    d.buy = rng_.chance(0.5);
    d.quantity = rng_.range(1, 500) * 1000;
    const Security& s = securities_[size_t(d.security)];
    d.price = int32_t(rng_.range(s.lowerLimit() / 10, s.upperLimit() / 10) * 10);
    d.time = hhmmss;
    return d;
}

std::vector<Market::DeclarationChange> Market::moveDeclarations(int32_t hhmmss) {
    std::vector<DeclarationChange> changes;
    if (securities_.empty()) return changes;
    const size_t target = std::max<size_t>(4, securities_.size() / 10);
    auto randomActive = [&]() {
        auto it = active_.begin();
        std::advance(it, long(rng_.below(active_.size())));
        return it;
    };
    // Withdrawals and changes first, on declarations made before this delta.
    if (active_.size() > target / 2) {
        for (int64_t k = rng_.range(0, 2); k > 0 && !active_.empty(); --k) {
            auto it = randomActive();
            Declaration d = it->second;
            d.time = hhmmss;
            active_.erase(it);
            changes.push_back({DeclarationChange::Withdraw, d});
        }
    }
    for (int64_t k = rng_.range(0, 3); k > 0 && !active_.empty(); --k) {
        auto it = randomActive();
        Declaration& d = it->second;
        if (d.time == hhmmss) continue;  // added or changed in this delta already
        d.quantity = rng_.range(1, 500) * 1000;
        d.time = hhmmss;
        changes.push_back({DeclarationChange::Change, d});
    }
    const int64_t adds = active_.size() < target
                             ? rng_.range(1, int64_t(std::max<size_t>(1, target / 20)))
                             : rng_.range(0, 2);
    for (int64_t k = 0; k < adds; ++k) {
        Declaration d = newDeclaration(hhmmss);
        active_[{d.security, d.number}] = d;
        changes.push_back({DeclarationChange::Add, d});
    }
    return changes;
}

void Market::declarationRecord(const Declaration& d, char status, uint8_t* out) const {
    const auto& f = F().xy;
    Blank(NqxyxxLayout(), out);
    Text(f[0], out, securities_[size_t(d.security)].code);
    Text(f[1], out, d.unit);
    Text(f[2], out, d.buy ? "OB" : "OS");
    Num(f[3], out, d.quantity);
    Num(f[4], out, d.price);
    Num(f[5], out, d.number);
    Text(f[6], out, Digits(d.time, 6));
    Text(f[7], out, std::string(1, status));
    Text(f[8], out, " ");
}

void Market::declarationSpecial(int32_t hhmmss, uint8_t* out) {
    const auto& f = F().xy;
    Blank(NqxyxxLayout(), out);
    Text(f[0], out, "000000");
    Text(f[6], out, Digits(hhmmss, 6));
    Text(f[7], out, " ");
}

}  // namespace mastersim
