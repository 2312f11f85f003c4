#include "controller/Inflater.h"

#include <gtest/gtest.h>

#if TAVREL_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Compress(const Bytes& plain, int level = 6) {
    uLongf size = compressBound(uLong(plain.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, plain.data(), uLong(plain.size()), level), Z_OK);
    out.resize(size);
    return out;
}

Bytes Text(size_t n) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t("0123456789 ABCDEF,"[(i * 7 + i / 13) % 18]);
    return out;
}

Bytes WithDictionary(const Bytes& plain) {
    z_stream s{};
    EXPECT_EQ(deflateInit(&s, 6), Z_OK);
    const Bytes dict = Text(64);
    deflateSetDictionary(&s, dict.data(), uInt(dict.size()));
    Bytes out(compressBound(uLong(plain.size())) + 16);
    s.next_in = const_cast<Bytef*>(plain.data());
    s.avail_in = uInt(plain.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

struct Case {
    std::string name;
    Bytes input;
    size_t destSize;
};

// The whole point of the class: the same verdict and output as zlib's own
// uncompress() for every kind of stream the station may meet, also when one
// inflater serves many streams in a row.
TEST(Inflater, AgreesWithUncompressOnGoodAndBadStreams) {
    const Bytes plain = Text(5000);
    const Bytes good = Compress(plain);
    std::vector<Case> cases = {
        {"good", good, 24540},
        {"exact room", good, plain.size()},
        {"one byte short", good, plain.size() - 1},
        {"empty input", {}, 100},
        {"empty stream", Compress({}), 100},
        {"trailing bytes", good, 24540},
        {"dictionary", WithDictionary(plain), 24540},
        {"bad header", Bytes{0x78, 0x9D, 1, 2, 3}, 100},
        {"raw deflate", Bytes(good.begin() + 2, good.end()), 24540},
    };
    cases[5].input.insert(cases[5].input.end(), {1, 2, 3, 4});
    for (size_t cut : {size_t(1), size_t(2), good.size() / 2, good.size() - 4, good.size() - 1})
        cases.push_back(
            {"cut at " + std::to_string(cut), Bytes(good.begin(), good.begin() + cut), 24540});
    std::mt19937 rng(5);
    for (int i = 0; i < 20; ++i) {
        Bytes damaged = good;
        damaged[2 + rng() % (damaged.size() - 2)] ^= uint8_t(1 + rng() % 255);
        cases.push_back({"damaged " + std::to_string(i), damaged, 24540});
    }

    Inflater inflater;
    for (int pass = 0; pass < 2; ++pass) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            Bytes theirs(c.destSize + 1), ours(c.destSize + 1);
            uLongf theirLen = uLongf(c.destSize);
            const int theirErr =
                ::uncompress(theirs.data(), &theirLen, c.input.data(), uLong(c.input.size()));
            size_t ourLen = c.destSize;
            const int ourErr =
                inflater.uncompress(ours.data(), &ourLen, c.input.data(), c.input.size());
            EXPECT_EQ(ourErr, theirErr);
            if (theirErr == Z_OK) {
                ASSERT_EQ(ourLen, theirLen);
                EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + long(ourLen), theirs.begin()));
            }
        }
    }
}

struct Budget {
    int allowed;
};

voidpf LimitedAlloc(voidpf opaque, uInt items, uInt size) {
    Budget* budget = static_cast<Budget*>(opaque);
    if (budget->allowed <= 0) return Z_NULL;
    --budget->allowed;
    return std::calloc(items, size);
}

void LimitedFree(voidpf, voidpf address) {
    std::free(address);
}

TEST(Inflater, ReportsMemoryShortageAndRecoversWhenMemoryReturns) {
    const Bytes plain = Text(3000);
    const Bytes stream = Compress(plain);
    Budget budget{0};
    Inflater inflater(LimitedAlloc, LimitedFree, &budget);
    Bytes out(24540);
    size_t len = out.size();
    EXPECT_EQ(inflater.uncompress(out.data(), &len, stream.data(), stream.size()), Z_MEM_ERROR);
    budget.allowed = 100;
    len = out.size();
    ASSERT_EQ(inflater.uncompress(out.data(), &len, stream.data(), stream.size()), Z_OK);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + long(len)), plain);
}

// Our verdict and output against zlib's uncompress() on one stream.
struct Verdict {
    int err;
    Bytes out;
};

Verdict Theirs(const Bytes& input, size_t destSize) {
    Bytes out(destSize + 1);
    uLongf len = uLongf(destSize);
    const int err = ::uncompress(out.data(), &len, input.data(), uLong(input.size()));
    out.resize(err == Z_OK ? len : 0);
    return {err, out};
}

Verdict Ours(Inflater& inflater, const Bytes& input, size_t destSize) {
    Bytes out(destSize + 1);
    size_t len = destSize;
    const int err = inflater.uncompress(out.data(), &len, input.data(), input.size());
    out.resize(err == Z_OK ? len : 0);
    return {err, out};
}

// Plain data of the kinds packets carry and some they never should.
Bytes RandomPlain(std::mt19937& rng, size_t n) {
    Bytes out(n);
    switch (rng() % 5) {
        case 0:  // record-like text
            for (size_t i = 0; i < n; ++i) out[i] = uint8_t("0123456789 .,ABC"[rng() % 16]);
            break;
        case 1:  // incompressible
            for (auto& b : out) b = uint8_t(rng());
            break;
        case 2:  // long runs
            for (size_t i = 0; i < n;) {
                const size_t run = std::min(n - i, size_t(1 + rng() % 600));
                std::fill(out.begin() + long(i), out.begin() + long(i + run), uint8_t(rng() % 4));
                i += run;
            }
            break;
        case 3:  // few symbols, nearly no matches: many symbols per byte out
            for (auto& b : out) b = uint8_t('a' + (rng() % 3));
            break;
        default:
            out = Text(n);
            break;
    }
    return out;
}

// zlib's deflate with a random level, strategy and memory level (a low one
// makes many small blocks).
Bytes RandomDeflate(std::mt19937& rng, const Bytes& plain) {
    static const int kStrategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE,
                                      Z_FIXED};
    z_stream s{};
    const int level = int(rng() % 10);
    const int memLevel = rng() % 3 == 0 ? int(1 + rng() % 9) : 8;
    EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, 15, memLevel, kStrategies[rng() % 5]), Z_OK);
    Bytes out(deflateBound(&s, uLong(plain.size())) + 16);
    s.next_in = const_cast<Bytef*>(plain.data());
    s.avail_in = uInt(plain.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

#if TAVREL_HAVE_LIBDEFLATE
// Another encoder's choices of blocks and codes.
Bytes LibdeflateCompress(std::mt19937& rng, const Bytes& plain) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(int(rng() % 13));
    Bytes out(libdeflate_zlib_compress_bound(c, plain.size()));
    out.resize(libdeflate_zlib_compress(c, plain.data(), plain.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}
#endif

// A stream damaged the ways a link or a faulty sender damages one.
void Damage(std::mt19937& rng, Bytes& s) {
    switch (rng() % 8) {
        case 0:
            break;
        case 1:  // cut short
            s.resize(s.empty() ? 0 : rng() % s.size());
            break;
        case 2:  // a few bits flipped
            for (unsigned k = 1 + rng() % 3; k > 0 && !s.empty(); --k)
                s[rng() % s.size()] ^= uint8_t(1u << (rng() % 8));
            break;
        case 3:  // a byte overwritten
            if (!s.empty()) s[rng() % s.size()] = uint8_t(rng());
            break;
        case 4:  // trailing bytes
            for (unsigned k = 1 + rng() % 20; k > 0; --k) s.push_back(uint8_t(rng()));
            break;
        case 5:  // a byte dropped
            if (!s.empty()) s.erase(s.begin() + long(rng() % s.size()));
            break;
        case 6:  // garbage after a good header
            if (s.size() > 2)
                for (size_t i = 2 + rng() % (s.size() - 2); i < s.size(); ++i)
                    s[i] = uint8_t(rng());
            break;
        default:  // the trailer changed
            if (s.size() >= 4) s[s.size() - 1 - rng() % 4] ^= uint8_t(1 + rng() % 255);
            break;
    }
}

// The differential check: thousands of streams of many encoders, sizes and
// damages, each through one long-lived inflater of each engine, each
// compared with uncompress() on its verdict and its bytes.
TEST(Inflater, MatchesUncompressOnManyRandomStreams) {
    std::mt19937 rng(20261210);
    Inflater fastest(Inflater::Engine::Fastest);
    Inflater zlibOnly(Inflater::Engine::Zlib);
    int verdicts[4] = {};  // Z_OK, Z_BUF_ERROR, Z_DATA_ERROR, other
    for (int i = 0; i < 4000; ++i) {
        const size_t n = rng() % 4 == 0 ? rng() % 40 : rng() % 30000;
        const Bytes plain = RandomPlain(rng, n);
        Bytes stream = RandomDeflate(rng, plain);
#if TAVREL_HAVE_LIBDEFLATE
        if (rng() % 4 == 0) stream = LibdeflateCompress(rng, plain);
#endif
        Damage(rng, stream);
        size_t destSize = 24540;
        if (rng() % 4 == 0) destSize = std::max<size_t>(n, 1);  // see BothEnginesAgreeWithoutRoom
        if (rng() % 8 == 0) destSize = n > 1 ? n - 1 : 1;
        SCOPED_TRACE("stream " + std::to_string(i) + ", " + std::to_string(stream.size()) +
                     " bytes, room " + std::to_string(destSize));
        const Verdict theirs = Theirs(stream, destSize);
        for (Inflater* inflater : {&fastest, &zlibOnly}) {
            const Verdict ours = Ours(*inflater, stream, destSize);
            ASSERT_EQ(ours.err, theirs.err);
            ASSERT_EQ(ours.out, theirs.out);
        }
        ++verdicts[theirs.err == Z_OK           ? 0
                   : theirs.err == Z_BUF_ERROR  ? 1
                   : theirs.err == Z_DATA_ERROR ? 2
                                                : 3];
    }
    // Every kind of verdict was met, so the comparison covered them all.
    EXPECT_GT(verdicts[0], 500);
    EXPECT_GT(verdicts[1], 50);
    EXPECT_GT(verdicts[2], 500);
    EXPECT_EQ(zlibOnly.fastInflations(), 0u);
#if TAVREL_HAVE_LIBDEFLATE
    // ... and most good streams went through libdeflate.
    EXPECT_GT(fastest.fastInflations(), uint64_t(verdicts[0] / 2));
#endif
}

// No room at all is outside that comparison: uncompress() then inflates
// into a byte of its own to tell whether the stream is whole, and answers
// Z_OK for a stream of one byte. The inflater answers as it always has (the
// station always offers room), the same on either engine.
TEST(Inflater, BothEnginesAgreeWithoutRoom) {
    std::mt19937 rng(3);
    Inflater fastest(Inflater::Engine::Fastest);
    Inflater zlibOnly(Inflater::Engine::Zlib);
    for (int i = 0; i < 300; ++i) {
        Bytes stream = RandomDeflate(rng, RandomPlain(rng, rng() % 3));
        Damage(rng, stream);
        SCOPED_TRACE(i);
        const Verdict a = Ours(fastest, stream, 0);
        const Verdict b = Ours(zlibOnly, stream, 0);
        ASSERT_EQ(a.err, b.err);
        ASSERT_EQ(a.out, b.out);
    }
}

// The streams the station meets: zlib's deflate, at its default memory
// level, of up to 24540 bytes. libdeflate takes every one that is a single
// block with codes of its own (or stored); those in the fixed codes, which
// zlib chooses for very repetitive data, go through zlib.
TEST(Inflater, PacketSizedZlibStreamsOfOwnCodesTakeTheFastWay) {
    std::mt19937 rng(7);
    Inflater inflater;
    int fast = 0, fixed = 0;
    for (int i = 0; i < 300; ++i) {
        const Bytes plain = RandomPlain(rng, 100 + rng() % 24440);
        const Bytes stream = Compress(plain, int(1 + rng() % 9));
        const bool final = stream[2] & 1;
        const int type = (stream[2] >> 1) & 3;
        const uint64_t before = inflater.fastInflations();
        const Verdict ours = Ours(inflater, stream, 24540);
        ASSERT_EQ(ours.err, Z_OK);
        ASSERT_EQ(ours.out, plain);
#if TAVREL_HAVE_LIBDEFLATE
        const bool expectFast = final && (type == 2 || type == 0);
#else
        const bool expectFast = false;
#endif
        EXPECT_EQ(inflater.fastInflations() - before, expectFast ? 1u : 0u) << i;
        fast += final && (type == 2 || type == 0);
        fixed += type == 1;
    }
    EXPECT_GT(fast, 200);
    EXPECT_GT(fixed, 0);
}

#if TAVREL_HAVE_LIBDEFLATE

// Deflate streams written bit by bit, to make the malformed block headers
// that libdeflate forgives and zlib does not.
class BitWriter {
  public:
    // Header fields and extra bits: lowest bit first.
    void bits(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) bit((value >> i) & 1);
    }
    // Huffman codewords: first bit of the code first.
    void code(uint32_t codeword, unsigned length) {
        for (unsigned i = length; i-- > 0;) bit((codeword >> i) & 1);
    }
    Bytes bytes() const { return out_; }

  private:
    void bit(uint32_t b) {
        if (used_ == 0) out_.push_back(0);
        out_.back() |= uint8_t(b << used_);
        used_ = (used_ + 1) % 8;
    }
    Bytes out_;
    unsigned used_ = 0;
};

// Canonical codewords for the lengths (RFC 1951, 3.2.2).
std::vector<uint32_t> Codewords(const std::vector<uint8_t>& lengths) {
    unsigned count[16] = {};
    for (uint8_t l : lengths) ++count[l];
    count[0] = 0;
    uint32_t next[16] = {};
    for (unsigned l = 1, c = 0; l < 16; ++l) next[l] = c = (c + count[l - 1]) << 1;
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
    return codes;
}

// A code-length symbol with its extra bits.
struct CodeLengthItem {
    unsigned symbol;
    uint32_t extra = 0;
};

// A dynamic block's header. Unless told otherwise, the code-length code gives
// 0-13 four bits and 14, 15, 17 and 18 five (a complete code without 16).
void DynamicHeader(BitWriter& w, bool final, unsigned lengthCodes, unsigned distanceCodes,
                   const std::vector<CodeLengthItem>& items, std::vector<uint8_t> precode = {}) {
    if (precode.empty()) {
        precode.assign(19, 4);
        precode[14] = precode[15] = precode[17] = precode[18] = 5;
        precode[16] = 0;
    }
    static const unsigned kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                        11, 4,  12, 3, 13, 2, 14, 1, 15};
    w.bits(final ? 1 : 0, 1);
    w.bits(2, 2);
    w.bits(lengthCodes - 257, 5);
    w.bits(distanceCodes - 1, 5);
    w.bits(19 - 4, 4);
    for (unsigned s : kOrder) w.bits(precode[s], 3);
    const std::vector<uint32_t> codes = Codewords(precode);
    for (const CodeLengthItem& item : items) {
        w.code(codes[item.symbol], precode[item.symbol]);
        if (item.symbol == 16) w.bits(item.extra, 2);
        if (item.symbol == 17) w.bits(item.extra, 3);
        if (item.symbol == 18) w.bits(item.extra, 7);
    }
}

// Items that spell the lengths out one by one (zeros in runs).
std::vector<CodeLengthItem> Spelled(const std::vector<uint8_t>& lengths) {
    std::vector<CodeLengthItem> items;
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138) ++run;
        if (run >= 11) {
            items.push_back({18, uint32_t(run - 11)});
            i += run;
        } else {
            items.push_back({lengths[i]});
            ++i;
        }
    }
    return items;
}

std::vector<uint8_t> Lengths(size_t n, std::initializer_list<std::pair<unsigned, uint8_t>> set) {
    std::vector<uint8_t> out(n, 0);
    for (auto [symbol, length] : set) out[symbol] = length;
    return out;
}

// A zlib stream around the raw deflate data, with the Adler-32 of what
// libdeflate makes of it, so that only the block decides the verdict.
Bytes ZlibAround(const Bytes& raw, libdeflate_decompressor* d) {
    Bytes out(24540);
    size_t len = 0;
    if (libdeflate_deflate_decompress(d, raw.data(), raw.size(), out.data(), out.size(), &len) !=
        LIBDEFLATE_SUCCESS)
        len = 0;
    const uint32_t sum = uint32_t(adler32(1, out.data(), uInt(len)));
    Bytes stream = {0x78, 0x9C};
    stream.insert(stream.end(), raw.begin(), raw.end());
    for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(uint8_t(sum >> shift));
    return stream;
}

struct Block {
    std::vector<uint8_t> lit;
    std::vector<uint8_t> dist;
};

// Writes literal 'a', then the given length symbol with distance symbol
// distanceCodeword (as a raw codeword of distanceBits bits), then the end of
// the block.
Bytes AThenMatch(const Block& b, unsigned lengthSymbol, uint32_t distanceCodeword,
                 unsigned distanceBits) {
    BitWriter w;
    std::vector<uint8_t> all = b.lit;
    all.insert(all.end(), b.dist.begin(), b.dist.end());
    DynamicHeader(w, true, unsigned(b.lit.size()), unsigned(b.dist.size()), Spelled(all));
    const std::vector<uint32_t> lit = Codewords(b.lit);
    w.code(lit['a'], b.lit['a']);
    w.code(lit[lengthSymbol], b.lit[lengthSymbol]);
    w.code(distanceCodeword, distanceBits);
    w.code(lit[256], b.lit[256]);
    return w.bytes();
}

// Each malformed block header libdeflate forgives, with the right Adler-32
// for what libdeflate makes of it: the inflater gives zlib's verdict, not
// libdeflate's. A control stream, well formed, shows the writer is right
// and takes the fast way.
TEST(Inflater, KeepsZlibsVerdictWhereLibdeflateForgives) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ASSERT_NE(d, nullptr);
    // 'a' (1 bit), end of block and length 3 (2 bits each); two distance
    // codes of one bit.
    const Block good{Lengths(258, {{'a', 1}, {256, 2}, {257, 2}}), Lengths(2, {{0, 1}, {1, 1}})};

    std::vector<std::pair<std::string, Bytes>> cases;
    cases.push_back({"control", AThenMatch(good, 257, 0, 1)});
    // More than 286 literal/length codes, and symbol 286 used (a match of
    // 258 bytes to libdeflate).
    cases.push_back({"288 length codes",
                     AThenMatch({Lengths(288, {{'a', 1}, {256, 2}, {286, 3}, {287, 3}}), good.dist},
                                286, 0, 1)});
    // More than 30 distance codes.
    cases.push_back(
        {"32 distance codes", AThenMatch({good.lit, Lengths(32, {{0, 1}, {31, 1}})}, 257, 0, 1)});
    // No distance code at all, yet a match.
    cases.push_back({"empty distance code", AThenMatch({good.lit, Lengths(1, {})}, 257, 0, 1)});
    // One distance code of one bit, sent as the unassigned codeword '1'.
    cases.push_back(
        {"unassigned distance codeword", AThenMatch({good.lit, Lengths(1, {{0, 1}})}, 257, 1, 1)});
    // A run of code lengths past the announced count: after the first
    // distance length, "the previous length 3 times" where 1 is left.
    {
        std::vector<uint8_t> all = good.lit;
        all.push_back(1);
        std::vector<CodeLengthItem> items = Spelled(all);
        items.push_back({16, 0});
        // A code-length code with 16 in it: 0-12 four bits, 13-18 five.
        std::vector<uint8_t> pre(19, 5);
        for (unsigned s = 0; s <= 12; ++s) pre[s] = 4;
        BitWriter w;
        DynamicHeader(w, true, 258, 2, items, pre);
        const std::vector<uint32_t> lit = Codewords(good.lit);
        w.code(lit['a'], 1);
        w.code(lit[256], 2);
        cases.push_back({"run past the count", w.bytes()});
    }
    // Only the end of block in the literal/length code (one bit), sent as
    // the unassigned codeword '1'.
    {
        BitWriter w;
        const Block b{Lengths(257, {{256, 1}}), good.dist};
        std::vector<uint8_t> all = b.lit;
        all.insert(all.end(), b.dist.begin(), b.dist.end());
        DynamicHeader(w, true, 257, 2, Spelled(all));
        w.code(1, 1);
        cases.push_back({"unassigned end-of-block codeword", w.bytes()});
    }
    // A code-length code of one codeword: every length 8, which no
    // literal/length code of 257 symbols survives (both refuse it).
    {
        BitWriter w;
        std::vector<uint8_t> pre(19, 0);
        pre[8] = 1;
        DynamicHeader(w, true, 257, 1, std::vector<CodeLengthItem>(258, CodeLengthItem{8}), pre);
        w.code(0, 8);
        cases.push_back({"one-codeword code-length code", w.bytes()});
    }
    // Fixed codes with literal/length symbol 286 (codeword 11000110).
    {
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        w.code(0x30 + 'a', 8);
        w.code(0xC0 + 6, 8);
        w.code(0, 5);
        w.code(0, 7);
        cases.push_back({"fixed code 286", w.bytes()});
    }

    Inflater inflater;
    int forgiven = 0;
    for (const auto& [name, raw] : cases) {
        SCOPED_TRACE(name);
        const Bytes stream = ZlibAround(raw, d);
        Bytes out(24540);
        size_t len = 0;
        const bool libdeflateTakesIt =
            libdeflate_zlib_decompress(d, stream.data(), stream.size(), out.data(), out.size(),
                                       &len) == LIBDEFLATE_SUCCESS;
        const Verdict theirs = Theirs(stream, 24540);
        if (name == "control") {
            ASSERT_TRUE(libdeflateTakesIt);
            ASSERT_EQ(theirs.err, Z_OK);
            EXPECT_EQ(theirs.out, Bytes(4, 'a'));
        } else {
            EXPECT_NE(theirs.err, Z_OK);
            forgiven += libdeflateTakesIt;
        }
        const uint64_t fastBefore = inflater.fastInflations();
        const Verdict ours = Ours(inflater, stream, 24540);
        EXPECT_EQ(ours.err, theirs.err);
        EXPECT_EQ(ours.out, theirs.out);
        EXPECT_EQ(inflater.fastInflations() - fastBefore, name == "control" ? 1u : 0u);
    }
    // The cases are live: libdeflate alone would have let most of them pass.
    EXPECT_GE(forgiven, 5);
    libdeflate_free_decompressor(d);
}

// libdeflate's memory, counted and refused through its allocator hook (no
// decompressor may exist while the hook changes).
std::atomic<int> libdeflateAllocations{0};
bool libdeflateRefuses = false;

void* CountingMalloc(size_t n) {
    ++libdeflateAllocations;
    return libdeflateRefuses ? nullptr : std::malloc(n);
}
void* PlainMalloc(size_t n) {
    return std::malloc(n);
}
void PlainFree(void* p) {
    std::free(p);
}

TEST(Inflater, LibdeflateMemoryIsTakenOnceAndItsLackFallsBackToZlib) {
    // Declared first, so that it is undone after every inflater is gone.
    struct Hook {
        Hook() {
            libdeflate_set_memory_allocator(CountingMalloc, PlainFree);
            libdeflateAllocations = 0;
        }
        ~Hook() {
            libdeflateRefuses = false;
            libdeflate_set_memory_allocator(PlainMalloc, PlainFree);
        }
    } hook;
    const Bytes plain = Text(20000);
    const Bytes stream = Compress(plain);
    {
        Inflater inflater;
        EXPECT_EQ(libdeflateAllocations.load(), 1);
        for (int i = 0; i < 50; ++i) {
            const Verdict ours = Ours(inflater, stream, 24540);
            ASSERT_EQ(ours.err, Z_OK);
            ASSERT_EQ(ours.out, plain);
        }
        EXPECT_EQ(libdeflateAllocations.load(), 1);
        EXPECT_EQ(inflater.fastInflations(), 50u);
    }
    libdeflateRefuses = true;
    {
        Inflater inflater;
        const Verdict ours = Ours(inflater, stream, 24540);
        EXPECT_EQ(ours.err, Z_OK);
        EXPECT_EQ(ours.out, plain);
        EXPECT_EQ(inflater.fastInflations(), 0u);
    }
}

#endif  // TAVREL_HAVE_LIBDEFLATE

}  // namespace
