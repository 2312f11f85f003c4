#include "controller/Inflater.h"

#include <gtest/gtest.h>

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

}  // namespace
