#pragma once
// RC6-32/20/16: 32-bit words, 20 rounds, a 16-byte key expanded to 44 words.
// Blocks are enciphered one by one (no chaining), so many blocks can go
// through the cipher side by side; on processors with AVX2 eight blocks share
// each instruction, elsewhere a portable version does the same work.
#include <cstddef>
#include <cstdint>
#include <string_view>

class Rc6 {
  public:
    static constexpr size_t kBlockSize = 16;
    static constexpr size_t kKeySize = 16;
    static constexpr int kRounds = 20;
    static constexpr int kScheduleWords = 2 * kRounds + 4;

    enum class Engine {
        Auto,      // the fastest this processor offers
        Portable,  // plain C++
        Avx2,      // eight blocks at once; falls back to Portable without AVX2
    };

    Rc6();  // all-zero key
    explicit Rc6(const uint8_t key[kKeySize]);
    void setKey(const uint8_t key[kKeySize]);

    // The station's text keys: at most the first 16 bytes, zero-padded.
    static void KeyFromText(std::string_view text, uint8_t key[kKeySize]);

    // Whole blocks from in to out; in and out may be the same buffer.
    void encryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks,
                       Engine engine = Engine::Auto) const;
    void decryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks,
                       Engine engine = Engine::Auto) const;

    static bool Available(Engine engine);
    // What Auto means on this processor.
    static Engine Best();

    const uint32_t* schedule() const { return s_; }

  private:
    uint32_t s_[kScheduleWords];
};
