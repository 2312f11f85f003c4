#include "controller/Rc6.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#ifdef TAVREL_HAVE_CRYPTOPP
#include <cryptopp/rc6.h>
#endif

namespace {

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = uint8_t(rng());
    return out;
}

std::vector<Rc6::Engine> Engines() {
    std::vector<Rc6::Engine> engines = {Rc6::Engine::Portable};
    if (Rc6::Available(Rc6::Engine::Avx2)) engines.push_back(Rc6::Engine::Avx2);
    return engines;
}

// The vectors for 16-byte keys published with the algorithm.
TEST(Rc6, PublishedVectorsForSixteenByteKeys) {
    struct Vector {
        const char* key;
        const char* plain;
        const char* cipher;
    } vectors[] = {
        {"00000000000000000000000000000000", "00000000000000000000000000000000",
         "8fc3a53656b1f778c129df4e9848a41e"},
        {"0123456789abcdef0112233445566778", "02132435465768798a9bacbdcedfe0f1",
         "524e192f4715c6231f51f6367ea43f18"},
    };
    for (const auto& v : vectors) {
        const Rc6 rc6(Hex(v.key).data());
        for (Rc6::Engine engine : Engines()) {
            SCOPED_TRACE(testing::Message() << v.key << " engine " << int(engine));
            std::vector<uint8_t> block = Hex(v.plain);
            rc6.encryptBlocks(block.data(), block.data(), 1, engine);
            EXPECT_EQ(block, Hex(v.cipher));
            rc6.decryptBlocks(block.data(), block.data(), 1, engine);
            EXPECT_EQ(block, Hex(v.plain));
        }
    }
}

// Every block count from 0 to 40 covers the sixteen-block steps of the fast
// engine and every length of its padded tail; all engines must agree with the
// one-block-at-a-time result, in place and out of place.
TEST(Rc6, EnginesAgreeOnEveryBlockCount) {
    std::mt19937 rng(7);
    const Rc6 rc6(RandomBytes(rng, 16).data());
    for (size_t blocks = 0; blocks <= 40; ++blocks) {
        const std::vector<uint8_t> plain = RandomBytes(rng, blocks * 16);
        std::vector<uint8_t> reference(plain.size());
        for (size_t i = 0; i < blocks; ++i)
            rc6.encryptBlocks(plain.data() + 16 * i, reference.data() + 16 * i, 1,
                              Rc6::Engine::Portable);
        for (Rc6::Engine engine : Engines()) {
            SCOPED_TRACE(testing::Message() << blocks << " blocks, engine " << int(engine));
            std::vector<uint8_t> out(plain.size() + 16, 0xEE);  // guard after the blocks
            rc6.encryptBlocks(plain.data(), out.data(), blocks, engine);
            EXPECT_TRUE(std::equal(reference.begin(), reference.end(), out.begin()));
            EXPECT_EQ(std::vector<uint8_t>(out.end() - 16, out.end()),
                      std::vector<uint8_t>(16, 0xEE));
            std::vector<uint8_t> inPlace = reference;
            rc6.decryptBlocks(inPlace.data(), inPlace.data(), blocks, engine);
            EXPECT_EQ(inPlace, plain);
        }
    }
}

TEST(Rc6, TextKeysTakeAtMostSixteenBytesZeroPadded) {
    uint8_t key[Rc6::kKeySize];
    Rc6::KeyFromText("7391739173917391", key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 16), "7391739173917391");
    Rc6::KeyFromText("73917391739173919999", key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 16), "7391739173917391");
    Rc6::KeyFromText("abc", key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 16),
              std::string("abc") + std::string(13, '\0'));
    Rc6::KeyFromText("", key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 16), std::string(16, '\0'));
}

#ifdef TAVREL_HAVE_CRYPTOPP
// An independent implementation on random keys and blocks.
TEST(Rc6, MatchesCryptoppOnRandomBlocks) {
    std::mt19937 rng(2017);
    for (int round = 0; round < 20; ++round) {
        const std::vector<uint8_t> key = RandomBytes(rng, 16);
        const size_t blocks = 1 + rng() % 64;
        const std::vector<uint8_t> plain = RandomBytes(rng, blocks * 16);

        CryptoPP::RC6::Encryption theirEnc(key.data(), key.size());
        CryptoPP::RC6::Decryption theirDec(key.data(), key.size());
        std::vector<uint8_t> theirCipher(plain.size());
        for (size_t i = 0; i < blocks; ++i)
            theirEnc.ProcessBlock(plain.data() + 16 * i, theirCipher.data() + 16 * i);

        const Rc6 ours(key.data());
        for (Rc6::Engine engine : Engines()) {
            SCOPED_TRACE(testing::Message() << "round " << round << " engine " << int(engine));
            std::vector<uint8_t> cipher(plain.size());
            ours.encryptBlocks(plain.data(), cipher.data(), blocks, engine);
            EXPECT_EQ(cipher, theirCipher);
            // Their decryption of random data, ours on the same bytes.
            const std::vector<uint8_t> noise = RandomBytes(rng, plain.size());
            std::vector<uint8_t> theirPlain(noise.size()), ourPlain(noise.size());
            for (size_t i = 0; i < blocks; ++i)
                theirDec.ProcessBlock(noise.data() + 16 * i, theirPlain.data() + 16 * i);
            ours.decryptBlocks(noise.data(), ourPlain.data(), blocks, engine);
            EXPECT_EQ(ourPlain, theirPlain);
        }
    }
}
#endif

}  // namespace
