#include "quotes/QuoteRecords.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// --- An independent reference: every field printed with its printf format,
// at the DBF offset written out by hand, exactly as the record layouts say.

class RefImage {
  public:
    explicit RefImage(size_t length) : image_(length, ' ') {}

    void text(size_t offset, const char* src, size_t width) {
        image_.replace(offset, width, src, width);
    }
    void text(size_t offset, char c) { image_[offset] = c; }
    // Prints with the format into a scratch buffer and keeps `width` characters.
    void print(size_t offset, size_t width, const char* format, ...)
        __attribute__((format(printf, 4, 5))) {
        char scratch[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(scratch, sizeof scratch, format, args);
        va_end(args);
        image_.replace(offset, width, scratch, width);
    }
    const std::string& str() const { return image_; }

  private:
    std::string image_;
};

std::string Ref(const SnapshotRec_t& r, bool special) {
    RefImage m(356);
    m.text(1, r.HQZQDM, 6);
    m.text(7, r.HQZQJC, 8);
    m.print(15, 9, "%9.3f", r.HQZRSP / 1000.0);
    m.print(24, 9, "%9.3f", r.HQJRKP / 1000.0);
    m.print(33, 9, "%9.3f", r.HQZJCJ / 1000.0);
    m.print(42, 12, "%12" PRId64, int64_t{r.HQCJSL});
    m.print(54, 17, "%17.3f", static_cast<double>(r.HQCJJE) / 1000.0);
    m.print(71, 9, "%9d", int32_t{r.HQCJBS});
    m.print(80, 9, "%9.3f", r.HQZGCJ / 1000.0);
    m.print(89, 9, "%9.3f", r.HQZDCJ / 1000.0);
    m.print(98, 9, "%9.4f", r.HQSYL1 / 10000.0);
    m.print(107, 9, "%9.4f", r.HQSYL2 / 10000.0);
    m.print(116, 9, "%9.3f", r.HQJSD1 / 1000.0);
    m.print(125, 9, "%9.3f", r.HQJSD2 / 1000.0);
    m.print(134, 12, "%12" PRId64, int64_t{r.HQHYCC});
    m.print(146, 9, "%9.3f", r.HQSJW5 / 1000.0);
    m.print(155, 12, "%12" PRId64, int64_t{r.HQSSL5});
    m.print(167, 9, "%9.3f", r.HQSJW4 / 1000.0);
    m.print(176, 12, "%12" PRId64, int64_t{r.HQSSL4});
    m.print(188, 9, "%9.3f", r.HQSJW3 / 1000.0);
    m.print(197, 12, "%12" PRId64, int64_t{r.HQSSL3});
    m.print(209, 9, "%9.3f", r.HQSJW2 / 1000.0);
    m.print(218, 12, "%12" PRId64, int64_t{r.HQSSL2});
    m.print(230, 9, "%9.3f", r.HQSJW1 / 1000.0);
    m.print(239, 12, "%12" PRId64, int64_t{r.HQSSL1});
    m.print(251, 9, "%9.3f", r.HQBJW1 / 1000.0);
    m.print(260, 12, "%12" PRId64, int64_t{r.HQBSL1});
    m.print(272, 9, "%9.3f", r.HQBJW2 / 1000.0);
    m.print(281, 12, "%12" PRId64, int64_t{r.HQBSL2});
    m.print(293, 9, "%9.3f", r.HQBJW3 / 1000.0);
    m.print(302, 12, "%12" PRId64, int64_t{r.HQBSL3});
    m.print(314, 9, "%9.3f", r.HQBJW4 / 1000.0);
    if (special && r.HQBSL4 > 10000) {
        m.print(323, 12, "    %08d", static_cast<int32_t>(static_cast<uint32_t>(r.HQBSL4)));
    } else {
        m.print(323, 12, "%12" PRId64, int64_t{r.HQBSL4});
    }
    m.print(335, 9, "%9.3f", r.HQBJW5 / 1000.0);
    if (special && r.HQBSL5 > 10000) {
        m.print(344, 12, "    %08d", static_cast<int32_t>(static_cast<uint32_t>(r.HQBSL5)));
    } else {
        m.print(344, 12, "%12" PRId64, int64_t{r.HQBSL5});
    }
    return m.str();
}

std::string Ref(const ZqxxRec_t& r) {
    RefImage m(267);
    m.text(1, r.XXZQDM, 6);
    m.text(7, r.XXZQJC, 8);
    m.text(15, r.XXYWJC, 20);
    m.text(35, r.XXJCZQ, 6);
    m.text(41, r.XXISIN, 12);
    m.print(53, 4, "%4d", int32_t{r.XXZRDW});
    m.text(57, r.XXHYZL, 5);
    m.text(62, r.XXHBZL, 2);
    m.print(64, 7, "%7.2f", r.XXMGMZ / 100.0);
    m.print(71, 12, "%12" PRId64, int64_t{r.XXZGB});
    m.print(83, 12, "%12" PRId64, int64_t{r.XXFXSGB});
    m.print(95, 9, "%9.4f", r.XXSNSY / 10000.0);
    m.print(104, 9, "%9.4f", r.XXBNSY / 10000.0);
    m.print(113, 7, "%7.6f", r.XXJSFL / 1000000.0);
    m.print(120, 7, "%7.6f", r.XXYHSL / 1000000.0);
    m.print(127, 7, "%7.6f", r.XXGHFL / 1000000.0);
    m.print(134, 8, "%8d", int32_t{r.XXGPRQ});
    m.print(142, 8, "%8d", int32_t{r.XXZQQXR});
    m.print(150, 8, "%8d", int32_t{r.XXDQR});
    m.print(158, 9, "%9d", int32_t{r.XXMBXL});
    m.print(167, 6, "%6d", int32_t{r.XXBLDW});
    m.print(173, 6, "%6d", int32_t{r.XXSLDW});
    m.print(179, 6, "%6d", int32_t{r.XXZXSBSL});
    m.print(185, 5, "%5.3f", r.XXJGDW / 1000.0);
    m.print(190, 7, "%7.3f", r.XXSBCS / 1000.0);
    m.print(197, 7, "%7.3f", r.XXHXCS / 1000.0);
    m.print(204, 1, "%1d", int32_t{r.XXXJXZ});
    m.print(205, 9, "%9.3f", r.XXZTJG / 1000.0);
    m.print(214, 9, "%9.3f", r.XXDTJG / 1000.0);
    m.print(223, 9, "%9.3f", r.XXDZZTJG / 1000.0);
    m.print(232, 9, "%9.3f", r.XXDZDTJG / 1000.0);
    m.text(241, r.XXCFGBZ);
    m.print(242, 5, "%5.2f", r.XXZHBL / 100.0);
    m.text(247, r.XXZRZT);
    m.text(248, r.XXZQJB);
    m.text(249, r.XXZRLX);
    m.print(250, 4, "%4d", int32_t{r.XXZSSSL});
    m.text(254, r.XXTPBZ);
    m.text(255, r.XXCQCX);
    m.text(256, r.XXWLTP);
    m.text(257, r.XXQTYW, 4);
    m.print(261, 6, "%6d", int32_t{r.XXGXSJ});
    return m.str();
}

std::string Ref(const NQZSXX_OrderRec_t& r) {
    RefImage m(45);
    m.text(1, r.ZSZQDM, 6);
    m.text(7, r.ZSYWLB, 2);
    m.print(9, 12, "%12" PRId64, int64_t{r.ZSWTSL});
    m.print(21, 9, "%9.3f", r.ZSWTJG / 1000.0);
    m.text(30, r.ZSSJLX);
    m.text(31, r.ZSWTSJ, 6);
    m.print(37, 8, "%8d", int32_t{r.ZSBYZD});
    return m.str();
}

std::string Ref(const NQXYXX_OrderRec_t& r) {
    RefImage m(52);
    m.text(1, r.XYZQDM, 6);
    m.text(7, r.XYJYDY, 6);
    m.text(13, r.XYYWLB, 2);
    m.print(15, 12, "%12" PRId64, int64_t{r.XYWTSL});
    m.print(27, 9, "%9.3f", r.XYWTJG / 1000.0);
    m.print(36, 8, "%8d", int32_t{r.XYYDH});
    m.text(44, r.XYWTSJ, 6);
    m.text(50, r.XYJLZT);
    m.text(51, r.XYBYBZ);
    return m.str();
}

std::string Ref(const NQFGKSBXX_OrderRec_t& r) {
    RefImage m(54);
    m.text(1, r.FGKZQDM, 6);
    m.text(7, r.FGKJYDY, 6);
    m.text(13, r.FGKZQLB, 2);
    m.text(15, r.FGKSBLB, 2);
    m.print(17, 12, "%12" PRId64, int64_t{r.FGKWTSL});
    m.print(29, 9, "%9.3f", r.FGKWTJG / 1000.0);
    m.print(38, 8, "%8d", int32_t{r.FGKYDH});
    m.text(46, r.FGKWTSJ, 6);
    m.text(52, r.FGKJLZT);
    m.text(53, r.FGKBYBZ);
    return m.str();
}

std::string Ref(const NQFGKCJXX_TradeRec_t& r) {
    RefImage m(321);
    m.print(1, 8, "%8d", int32_t{r.FGKCJXH});
    m.text(9, r.FGKZQDM, 6);
    m.text(15, r.FGKZQJC, 8);
    m.text(23, r.FGKZQLB, 2);
    m.text(25, r.FGKBJYDY, 6);
    m.text(31, r.FGKBDYMC, 128);
    m.text(159, r.FGKSDJYDY, 6);
    m.text(165, r.FGKSDYMC, 128);
    m.print(293, 12, "%12" PRId64, int64_t{r.FGKCJSL});
    m.print(305, 9, "%9.3f", r.FGKCJJG / 1000.0);  // unsigned value
    m.text(314, r.FGKCJSJ, 6);
    m.text(320, r.FGKBYBZ);
    return m.str();
}

// --- Random records ----------------------------------------------------------

class RecordFiller {
  public:
    // edgesOnly: every number is an edge value (a field at every boundary of
    // its text in a few thousand records).
    explicit RecordFiller(uint64_t seed, bool edgesOnly = false)
        : rng_(seed), edgesOnly_(edgesOnly) {}

    // Text fields get any bytes (GBK text is copied unchanged).
    template <size_t N>
    void operator()(char (&field)[N]) {
        for (char& c : field) c = static_cast<char>(rng_());
    }
    void operator()(char& c) { c = static_cast<char>(rng_()); }
    void operator()(LeInt32& v) { v = static_cast<int32_t>(value(32)); }
    void operator()(LeUInt32& v) { v = static_cast<uint32_t>(value(32)); }
    void operator()(LeInt64& v) { v = value(64); }

    template <typename... F>
    void fill(F&... fields) {
        ((*this)(fields), ...);
    }

    // The type limits, the special-record threshold, the exactness limits of
    // doubles, and every power of ten with its neighbours and negatives: the
    // places where a text gains a digit, fills its field or outgrows it.
    static std::vector<int64_t> Edges() {
        std::vector<int64_t> edges = {0,
                                      10000,
                                      10001,
                                      std::numeric_limits<int32_t>::min(),
                                      std::numeric_limits<int32_t>::max(),
                                      std::numeric_limits<uint32_t>::max(),
                                      std::numeric_limits<int64_t>::min(),
                                      std::numeric_limits<int64_t>::max(),
                                      std::numeric_limits<int64_t>::min() + 1};
        for (int shift : {31, 52, 53}) {
            for (int64_t d : {-1, 0, 1}) {
                edges.push_back((int64_t{1} << shift) + d);
                edges.push_back(-((int64_t{1} << shift) + d));
            }
        }
        int64_t p = 1;
        for (int k = 0; k <= 18; ++k) {
            for (int64_t d : {-1, 0, 1}) {
                edges.push_back(p + d);
                edges.push_back(-(p + d));
            }
            if (k < 18) p *= 10;  // 10^18 is the last power in int64
        }
        return edges;
    }

  private:
    // Values of every magnitude, with the edges now and then.
    int64_t value(int bits) {
        switch (edgesOnly_ ? 0 : rng_() % 8) {
            case 0:
                return edges_[rng_() % edges_.size()];
            case 1:
                return static_cast<int64_t>(rng_());
            default: {
                const int magnitude = static_cast<int>(rng_() % static_cast<uint64_t>(bits));
                const int64_t v = static_cast<int64_t>(rng_() >> (63 - magnitude));
                return (rng_() & 3) == 0 ? -v : v;
            }
        }
    }
    std::mt19937_64 rng_;
    bool edgesOnly_;
    std::vector<int64_t> edges_ = Edges();
};

void Fill(RecordFiller& f, SnapshotRec_t& r) {
    f.fill(r.HQZQDM, r.HQZQJC, r.HQZRSP, r.HQJRKP, r.HQZJCJ, r.HQCJSL, r.HQCJJE, r.HQCJBS, r.HQZGCJ,
           r.HQZDCJ, r.HQSYL1, r.HQSYL2, r.HQJSD1, r.HQJSD2, r.HQHYCC, r.HQSJW5, r.HQSSL5, r.HQSJW4,
           r.HQSSL4, r.HQSJW3, r.HQSSL3, r.HQSJW2, r.HQSSL2, r.HQSJW1, r.HQSSL1, r.HQBJW1, r.HQBSL1,
           r.HQBJW2, r.HQBSL2, r.HQBJW3, r.HQBSL3, r.HQBJW4, r.HQBSL4, r.HQBJW5, r.HQBSL5);
}
void Fill(RecordFiller& f, ZqxxRec_t& r) {
    f.fill(r.XXZQDM, r.XXZQJC, r.XXYWJC, r.XXJCZQ, r.XXISIN, r.XXZRDW, r.XXHYZL, r.XXHBZL, r.XXMGMZ,
           r.XXZGB, r.XXFXSGB, r.XXSNSY, r.XXBNSY, r.XXJSFL, r.XXYHSL, r.XXGHFL, r.XXGPRQ,
           r.XXZQQXR, r.XXDQR, r.XXMBXL, r.XXBLDW, r.XXSLDW, r.XXZXSBSL, r.XXJGDW, r.XXSBCS,
           r.XXHXCS, r.XXXJXZ, r.XXZTJG, r.XXDTJG, r.XXDZZTJG, r.XXDZDTJG, r.XXCFGBZ, r.XXZHBL,
           r.XXZRZT, r.XXZQJB, r.XXZRLX, r.XXZSSSL, r.XXTPBZ, r.XXCQCX, r.XXWLTP, r.XXQTYW,
           r.XXGXSJ);
}
void Fill(RecordFiller& f, NQZSXX_OrderRec_t& r) {
    f.fill(r.ZSZQDM, r.ZSYWLB, r.ZSWTSL, r.ZSWTJG, r.ZSSJLX, r.ZSWTSJ, r.ZSBYZD);
}
void Fill(RecordFiller& f, NQXYXX_OrderRec_t& r) {
    f.fill(r.XYZQDM, r.XYJYDY, r.XYYWLB, r.XYWTSL, r.XYWTJG, r.XYYDH, r.XYWTSJ, r.XYJLZT, r.XYBYBZ);
}
void Fill(RecordFiller& f, NQFGKSBXX_OrderRec_t& r) {
    f.fill(r.FGKZQDM, r.FGKJYDY, r.FGKZQLB, r.FGKSBLB, r.FGKWTSL, r.FGKWTJG, r.FGKYDH, r.FGKWTSJ,
           r.FGKJLZT, r.FGKBYBZ);
}
void Fill(RecordFiller& f, NQFGKCJXX_TradeRec_t& r) {
    f.fill(r.FGKCJXH, r.FGKZQDM, r.FGKZQJC, r.FGKZQLB, r.FGKBJYDY, r.FGKBDYMC, r.FGKSDJYDY,
           r.FGKSDYMC, r.FGKCJSL, r.FGKCJJG, r.FGKCJSJ, r.FGKBYBZ);
}

// The image written into a larger buffer: nothing may be written around it.
template <typename T, typename F>
std::string ImageOf(F&& format) {
    const size_t length = kImageLength<T>;
    std::string buf(length + 16, '#');
    format(&buf[8]);
    EXPECT_EQ(buf.substr(0, 8), std::string(8, '#'));
    EXPECT_EQ(buf.substr(8 + length), std::string(8, '#'));
    return buf.substr(8, length);
}

template <typename T>
std::string Image(const T& rec, ImageEngine engine = ImageEngine::Auto) {
    return ImageOf<T>([&](char* out) { FormatRecord(rec, out, engine); });
}
std::string Image(const SnapshotRec_t& rec, bool special, ImageEngine engine = ImageEngine::Auto) {
    return ImageOf<SnapshotRec_t>([&](char* out) { FormatRecord(rec, special, out, engine); });
}

// Both engines, whichever Auto picks; Lanes is Portable again on a processor
// without them (the test then says so).
constexpr ImageEngine kEngines[] = {ImageEngine::Portable, ImageEngine::Lanes};

const char* EngineName(ImageEngine engine) {
    return engine == ImageEngine::Portable ? "portable: " : "lanes: ";
}

// Names the first differing field of two images, for readable failures.
std::string FirstDifference(QuoteTableId table, const std::string& got, const std::string& want) {
    for (const QuoteFieldLayout& f : QuoteTable(table).fields) {
        const std::string a = got.substr(f.offset, f.width), b = want.substr(f.offset, f.width);
        if (a != b) return std::string(f.name) + ": got '" + a + "' want '" + b + "'";
    }
    return got.substr(0, 1) == want.substr(0, 1) ? "" : "deletion flag";
}

template <typename T>
void ExpectRandomRecordsMatchReference(uint64_t seed, bool edgesOnly) {
    RecordFiller filler(seed, edgesOnly);
    for (int i = 0; i < 20000; ++i) {
        T rec;
        Fill(filler, rec);
        const std::string want = Ref(rec);
        for (ImageEngine engine : kEngines) {
            const std::string got = Image(rec, engine);
            ASSERT_EQ(got, want) << EngineName(engine)
                                 << FirstDifference(QuoteRecordTraits<T>::table, got, want);
        }
    }
}

void ExpectRandomSnapshotsMatchReference(uint64_t seed, bool edgesOnly) {
    RecordFiller filler(seed, edgesOnly);
    for (int i = 0; i < 20000; ++i) {
        SnapshotRec_t rec;
        Fill(filler, rec);
        for (bool special : {false, true}) {
            const std::string want = Ref(rec, special);
            for (ImageEngine engine : kEngines) {
                const std::string got = Image(rec, special, engine);
                ASSERT_EQ(got, want) << EngineName(engine) << (special ? "special: " : "")
                                     << FirstDifference(kNqhq, got, want);
            }
        }
    }
}

TEST(FormatRecord, EveryRecordTypeMatchesItsPrintfFormats) {
    if (!ImageLanesAvailable()) std::puts("no vector lanes on this processor: portable code only");
    for (bool edgesOnly : {false, true}) {
        ExpectRandomRecordsMatchReference<ZqxxRec_t>(1, edgesOnly);
        ExpectRandomRecordsMatchReference<NQZSXX_OrderRec_t>(2, edgesOnly);
        ExpectRandomRecordsMatchReference<NQXYXX_OrderRec_t>(3, edgesOnly);
        ExpectRandomRecordsMatchReference<NQFGKSBXX_OrderRec_t>(4, edgesOnly);
        ExpectRandomRecordsMatchReference<NQFGKCJXX_TradeRec_t>(5, edgesOnly);
        ExpectRandomSnapshotsMatchReference(6, edgesOnly);
    }
}

// Values as the tables hold them (prices below 10^8, counts that fit their
// fields), where the vector lanes write nearly every field: the fallback for
// the rare value they leave must not be the only code that is right.
TEST(FormatRecord, OrdinaryValuesMatchInBothEngines) {
    std::mt19937_64 rng(11);
    auto ordinary = [&](int digits) {
        int64_t limit = 1;
        for (int k = 0; k < digits; ++k) limit *= 10;
        const int64_t v = static_cast<int64_t>(rng() % static_cast<uint64_t>(limit));
        return (rng() % 16) == 0 ? -v : v;
    };
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + static_cast<int>(i % 8);
        SnapshotRec_t r{};
        std::memcpy(r.HQZQDM, "430001", 6);
        std::memcpy(r.HQZQJC, "ABCDEFGH", 8);
        LeInt32* i32[] = {&r.HQZRSP, &r.HQJRKP, &r.HQZJCJ, &r.HQCJBS, &r.HQZGCJ,
                          &r.HQZDCJ, &r.HQSYL1, &r.HQSYL2, &r.HQJSD1, &r.HQJSD2,
                          &r.HQSJW5, &r.HQSJW4, &r.HQSJW3, &r.HQSJW2, &r.HQSJW1,
                          &r.HQBJW1, &r.HQBJW2, &r.HQBJW3, &r.HQBJW4, &r.HQBJW5};
        LeInt64* i64[] = {&r.HQCJSL, &r.HQCJJE, &r.HQHYCC, &r.HQSSL5, &r.HQSSL4,
                          &r.HQSSL3, &r.HQSSL2, &r.HQSSL1, &r.HQBSL1, &r.HQBSL2,
                          &r.HQBSL3, &r.HQBSL4, &r.HQBSL5};
        for (LeInt32* f : i32) *f = static_cast<int32_t>(ordinary(digits));
        for (LeInt64* f : i64) *f = ordinary(digits + 1);
        const std::string want = Ref(r, false);
        for (ImageEngine engine : kEngines) {
            const std::string got = Image(r, false, engine);
            ASSERT_EQ(got, want) << EngineName(engine) << FirstDifference(kNqhq, got, want);
        }

        ZqxxRec_t x{};
        RecordFiller text(static_cast<uint64_t>(i));
        Fill(text, x);
        LeInt32* x32[] = {&x.XXZRDW,   &x.XXMGMZ,   &x.XXSNSY, &x.XXBNSY,   &x.XXJSFL,
                          &x.XXYHSL,   &x.XXGHFL,   &x.XXGPRQ, &x.XXZQQXR,  &x.XXDQR,
                          &x.XXMBXL,   &x.XXBLDW,   &x.XXSLDW, &x.XXZXSBSL, &x.XXJGDW,
                          &x.XXSBCS,   &x.XXHXCS,   &x.XXXJXZ, &x.XXZTJG,   &x.XXDTJG,
                          &x.XXDZZTJG, &x.XXDZDTJG, &x.XXZHBL, &x.XXZSSSL,  &x.XXGXSJ};
        for (LeInt32* f : x32) *f = static_cast<int32_t>(ordinary(1 + static_cast<int>(rng() % 8)));
        x.XXZGB = ordinary(digits + 2);
        x.XXFXSGB = ordinary(digits + 2);
        const std::string wantX = Ref(x);
        for (ImageEngine engine : kEngines) {
            const std::string got = Image(x, engine);
            ASSERT_EQ(got, wantX) << EngineName(engine) << FirstDifference(kNqxx, got, wantX);
        }
    }
}

// --- The documented cases ------------------------------------------------------

SnapshotRec_t BlankSnapshot() {
    SnapshotRec_t r{};
    std::memcpy(r.HQZQDM, "430001", 6);
    std::memcpy(r.HQZQJC, "ABCDEFGH", 8);
    return r;
}

std::string Field(QuoteTableId table, const char* name, const std::string& image) {
    for (const QuoteFieldLayout& f : QuoteTable(table).fields) {
        if (std::string(f.name) == name) return image.substr(f.offset, f.width);
    }
    ADD_FAILURE() << "no field " << name;
    return {};
}

TEST(FormatRecord, DocumentedCases) {
    struct Case {
        const char* what;
        QuoteTableId table;
        const char* field;
        std::string image;
        const char* expected;
    };
    auto snapshot = [](auto set, bool special = false) {
        SnapshotRec_t r = BlankSnapshot();
        set(r);
        return Image(r, special);
    };
    auto zqxx = [](auto set) {
        ZqxxRec_t r{};
        set(r);
        return Image(r);
    };
    auto trade = [](auto set) {
        NQFGKCJXX_TradeRec_t r{};
        set(r);
        return Image(r);
    };
    const Case cases[] = {
        {"price 0", kNqhq, "HQZRSP", snapshot([](auto& r) { r.HQZRSP = 0; }), "    0.000"},
        {"price -500", kNqhq, "HQZRSP", snapshot([](auto& r) { r.HQZRSP = -500; }), "   -0.500"},
        {"17-wide amount", kNqhq, "HQCJJE",
         snapshot([](auto& r) { r.HQCJJE = int64_t{123456789012}; }), "    123456789.012"},
        {"price wider than its field", kNqhq, "HQZGCJ",
         snapshot([](auto& r) { r.HQZGCJ = std::numeric_limits<int32_t>::max(); }), "2147483.6"},
        {"volume", kNqhq, "HQCJSL", snapshot([](auto& r) { r.HQCJSL = int64_t{93000}; }),
         "       93000"},
        {"ordinary HQBSL4 above 10000", kNqhq, "HQBSL4",
         snapshot([](auto& r) { r.HQBSL4 = int64_t{93000}; }), "       93000"},
        {"special HQBSL4 above 10000", kNqhq, "HQBSL4",
         snapshot([](auto& r) { r.HQBSL4 = int64_t{93000}; }, true), "    00093000"},
        {"special HQBSL4 10001", kNqhq, "HQBSL4",
         snapshot([](auto& r) { r.HQBSL4 = int64_t{10001}; }, true), "    00010001"},
        {"special HQBSL4 10000", kNqhq, "HQBSL4",
         snapshot([](auto& r) { r.HQBSL4 = int64_t{10000}; }, true), "       10000"},
        {"special HQBSL4 5000", kNqhq, "HQBSL4",
         snapshot([](auto& r) { r.HQBSL4 = int64_t{5000}; }, true), "        5000"},
        {"special HQBSL4 eight digits", kNqhq, "HQBSL4",
         snapshot([](auto& r) { r.HQBSL4 = int64_t{12345678}; }, true), "    12345678"},
        {"special HQBSL5 negative", kNqhq, "HQBSL5",
         snapshot([](auto& r) { r.HQBSL5 = int64_t{-93000}; }, true), "      -93000"},
        {"special HQBSL5 low 32 bits", kNqhq, "HQBSL5",
         snapshot([](auto& r) { r.HQBSL5 = (int64_t{1} << 32) + 93000; }, true), "    00093000"},
        {"special HQBSL5 above 2^31", kNqhq, "HQBSL5",
         snapshot([](auto& r) { r.HQBSL5 = int64_t{1} << 31; }, true), "    -2147483"},
        {"special HQCJBS as it is", kNqhq, "HQCJBS",
         snapshot([](auto& r) { r.HQCJBS = 93000; }, true), "    93000"},
        {"XXXJXZ 12", kNqxx, "XXXJXZ", zqxx([](auto& r) { r.XXXJXZ = 12; }), "1"},
        {"date 0", kNqxx, "XXGPRQ", zqxx([](auto& r) { r.XXGPRQ = 0; }), "       0"},
        {"date", kNqxx, "XXDQR", zqxx([](auto& r) { r.XXDQR = 20170213; }), "20170213"},
        {"rate 6 decimals", kNqxx, "XXJSFL", zqxx([](auto& r) { r.XXJSFL = 487; }), "0.00048"},
        {"FGKCJJG 2^31", kNqfgkcjxx, "FGKCJJG",
         trade([](auto& r) { r.FGKCJJG = uint32_t{1} << 31; }), "2147483.6"},
        {"FGKCJJG 1.5", kNqfgkcjxx, "FGKCJJG", trade([](auto& r) { r.FGKCJJG = 1500u; }),
         "    1.500"},
        {"trade number", kNqfgkcjxx, "FGKCJXH", trade([](auto& r) { r.FGKCJXH = 0; }), "       0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Field(c.table, c.field, c.image), c.expected) << c.what;
        EXPECT_EQ(c.image[0], ' ') << c.what;
    }
}

TEST(FormatRecord, SpecialRuleOnlyForRecordZeroOfTheInMemoryTable) {
    std::vector<CQuotaRec<SnapshotRec_t>> table(3);
    for (auto& e : table) {
        e.rec = BlankSnapshot();
        e.rec.HQBSL4 = int64_t{93000};
        e.rec.HQBSL5 = int64_t{93001};
    }
    std::string image(356, '#');
    ASSERT_EQ(FormatRecord(table, 0, image.data()), 0);
    EXPECT_EQ(Field(kNqhq, "HQBSL4", image), "    00093000");
    EXPECT_EQ(Field(kNqhq, "HQBSL5", image), "    00093001");
    ASSERT_EQ(FormatRecord(table, 2, image.data()), 0);
    EXPECT_EQ(Field(kNqhq, "HQBSL4", image), "       93000");
    EXPECT_EQ(Field(kNqhq, "HQBSL5", image), "       93001");

    // A number outside the table writes nothing.
    std::string untouched(356, '#');
    EXPECT_EQ(FormatRecord(table, 3, untouched.data()), -1);
    EXPECT_EQ(untouched, std::string(356, '#'));
    std::vector<CQuotaRec<ZqxxRec_t>> none;
    EXPECT_EQ(FormatRecord(none, 0, untouched.data()), -1);
    std::vector<CQuotaRec<NQZSXX_OrderRec_t>> one(1);
    EXPECT_EQ(FormatRecord(one, 1, untouched.data()), -1);
    EXPECT_EQ(untouched, std::string(356, '#'));
    EXPECT_EQ(FormatRecord(one, 0, untouched.data()), 0);
    EXPECT_EQ(untouched.substr(0, 45), Image(one[0].rec));
}

// Records are copied straight out of packets: the byte order is little-endian
// whatever the host, and a short buffer is refused.
TEST(QuoteRecords, WireLayoutAndLoading) {
    uint8_t wire[sizeof(SnapshotRec_t) + 4] = {};
    std::memcpy(wire, "430001", 6);
    const uint8_t cjbs[4] = {0x48, 0x6B, 0x01, 0x00};  // 93000 at offset 42
    std::memcpy(wire + 42, cjbs, 4);
    const uint8_t bsl5[8] = {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // -2 at 190
    std::memcpy(wire + 190, bsl5, 8);

    SnapshotRec_t rec;
    ASSERT_TRUE(LoadRecord(wire, sizeof(SnapshotRec_t), rec));
    EXPECT_EQ(rec.HQCJBS, 93000);
    EXPECT_EQ(rec.HQBSL5, -2);
    rec.HQCJBS = 0x01020304;
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(&rec) + 42, "\x04\x03\x02\x01", 4), 0);

    SnapshotRec_t other{};
    EXPECT_FALSE(LoadRecord(wire, sizeof(SnapshotRec_t) - 1, other));
    EXPECT_FALSE(LoadRecord(nullptr, 1000, other));
    EXPECT_EQ(other.HQCJBS, 0);

    NQFGKCJXX_TradeRec_t trade;
    uint8_t tradeWire[307];
    std::memset(tradeWire, ' ', sizeof tradeWire);
    std::memcpy(tradeWire + 296, "\x00\x00\x00\x80", 4);  // FGKCJJG with the high bit set
    ASSERT_TRUE(LoadRecord(tradeWire, sizeof tradeWire, trade));
    EXPECT_EQ(trade.FGKCJJG, 2147483648u);

    // A resized in-memory table is all zero bytes.
    std::vector<CQuotaRec<ZqxxRec_t>> table(2);
    table[1].firstRoundSeen = 1;
    table[1].rec.XXGXSJ = 5;
    table.assign(4, CQuotaRec<ZqxxRec_t>{});
    for (const auto& e : table) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&e);
        EXPECT_EQ(std::count(bytes, bytes + sizeof e, 0), static_cast<long>(sizeof e));
    }
}

// --- Reading images --------------------------------------------------------------

std::string XyxxImage(const char* code, int32_t number, char status) {
    NQXYXX_OrderRec_t r{};
    std::memset(&r, ' ', sizeof r);
    std::memcpy(r.XYZQDM, code, 6);
    r.XYWTSL = int64_t{1000};
    r.XYWTJG = 1500;
    r.XYYDH = number;
    r.XYJLZT = status;
    return FormatRecord(r);
}

std::string FgksbxxImage(const char* code, int32_t number, char status) {
    NQFGKSBXX_OrderRec_t r{};
    std::memset(&r, ' ', sizeof r);
    std::memcpy(r.FGKZQDM, code, 6);
    r.FGKYDH = number;
    r.FGKJLZT = status;
    return FormatRecord(r);
}

TEST(QuoteRecords, DeclarationKeys) {
    const int64_t k32 = int64_t{1} << 32;
    struct Case {
        const char* what;
        QuoteTableId table;
        std::string image;
        int64_t key;
    };
    const Case cases[] = {
        {"special record: the number alone", kNqxyxx, XyxxImage("000000", 7, ' '), 7},
        {"code and number", kNqxyxx, XyxxImage("430001", 1, '1'), 430001 * k32 + 1},
        {"next number", kNqxyxx, XyxxImage("430001", 2, '1'), 430001 * k32 + 2},
        {"negative number sign-extended", kNqxyxx, XyxxImage("430001", -1, '1'), 430001 * k32 - 1},
        {"code with letters stops at them", kNqxyxx, XyxxImage("43A001", 9, '1'), 43 * k32 + 9},
        {"largest number", kNqxyxx, XyxxImage("999999", 99999999, '1'), 999999 * k32 + 99999999},
        {"non-public: the number alone", kNqfgksbxx, FgksbxxImage("430001", 123456, '1'), 123456},
        {"non-public negative", kNqfgksbxx, FgksbxxImage("430001", -5, '1'), -5},
        {"number cut to its field", kNqfgksbxx, FgksbxxImage("430001", 123456789, '1'), 12345678},
        {"not a declaration table", kNqhq, XyxxImage("430001", 1, '1'), 0},
        {"image cut inside the number", kNqxyxx, XyxxImage("430001", 12345, '1').substr(0, 41),
         430001 * k32 + 12},
        {"image cut before the number", kNqxyxx, XyxxImage("430001", 12345, '1').substr(0, 20),
         430001 * k32},
        {"empty image", kNqfgksbxx, "", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(RecordKey(c.table, c.image), c.key) << c.what;
    // Keys order by code, then number.
    EXPECT_LT(RecordKey(kNqxyxx, XyxxImage("430001", 99999999, '1')),
              RecordKey(kNqxyxx, XyxxImage("430002", 0, '1')));
}

TEST(QuoteRecords, SpecialActiveAndTradeNumber) {
    NQFGKCJXX_TradeRec_t trade{};
    std::memset(&trade, ' ', sizeof trade);
    std::memcpy(trade.FGKZQDM, "000000", 6);
    trade.FGKCJXH = 0;
    const std::string special = FormatRecord(trade);
    trade.FGKCJXH = 17;
    std::memcpy(trade.FGKZQDM, "430001", 6);
    const std::string ordinary = FormatRecord(trade);

    EXPECT_TRUE(IsSpecial(kNqfgkcjxx, special));
    EXPECT_FALSE(IsSpecial(kNqfgkcjxx, ordinary));
    EXPECT_EQ(TradeNumberOf(special), 0);
    EXPECT_EQ(TradeNumberOf(ordinary), 17);
    EXPECT_EQ(TradeNumberOf(" 12ab   "), 12);  // deletion flag, then "12ab   "
    EXPECT_EQ(TradeNumberOf(std::string(321, ' ')), 0);
    EXPECT_EQ(TradeNumberOf(""), 0);

    EXPECT_TRUE(IsSpecial(kNqxyxx, XyxxImage("000000", 0, ' ')));
    EXPECT_FALSE(IsSpecial(kNqxyxx, XyxxImage("000001", 0, ' ')));
    EXPECT_FALSE(IsSpecial(kNqxyxx, XyxxImage("000000", 0, ' ').substr(0, 6)));
    EXPECT_TRUE(IsSpecial(kNqfgksbxx, FgksbxxImage("000000", 0, ' ')));
    EXPECT_FALSE(IsSpecial(static_cast<QuoteTableId>(6), XyxxImage("000000", 0, ' ')));

    NQXYXX_OrderRec_t xy{};
    std::memcpy(xy.XYZQDM, "000000", 6);
    EXPECT_TRUE(IsSpecial(xy));
    xy.XYZQDM[5] = '1';
    EXPECT_FALSE(IsSpecial(xy));
    NQFGKSBXX_OrderRec_t sb{};
    std::memcpy(sb.FGKZQDM, "000000", 6);
    EXPECT_TRUE(IsSpecial(sb));
    sb.FGKZQDM[0] = ' ';
    EXPECT_FALSE(IsSpecial(sb));

    EXPECT_TRUE(IsActive(kNqxyxx, XyxxImage("430001", 1, '1')));
    EXPECT_FALSE(IsActive(kNqxyxx, XyxxImage("430001", 1, '0')));
    EXPECT_FALSE(IsActive(kNqxyxx, XyxxImage("000000", 1, ' ')));
    EXPECT_FALSE(IsActive(kNqxyxx, XyxxImage("430001", 1, '1').substr(0, 50)));
    EXPECT_TRUE(IsActive(kNqfgksbxx, FgksbxxImage("430001", 1, '1')));
    EXPECT_FALSE(IsActive(kNqfgksbxx, XyxxImage("430001", 1, '1') + "  "));  // status at 52
    EXPECT_FALSE(IsActive(kNqhq, std::string(356, '1')));
}

TEST(QuoteRecords, FieldText) {
    const std::string image = XyxxImage("430001", 42, '1');
    EXPECT_EQ(FieldText(kNqxyxx, 0, image), "430001");
    EXPECT_EQ(FieldText(kNqxyxx, 5, image), "      42");
    EXPECT_EQ(FieldText(kNqxyxx, 5, image.substr(0, 40)), "    ");
    EXPECT_EQ(FieldText(kNqxyxx, 9, image), "");
    EXPECT_EQ(FieldText(kNqxyxx, -1, image), "");
    EXPECT_EQ(FieldText(static_cast<QuoteTableId>(7), 0, image), "");
}

}  // namespace
