#include "controller/Rc6.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kP32 = 0xB7E15163;
constexpr uint32_t kQ32 = 0x9E3779B9;
constexpr int kKeyWords = int(Rc6::kKeySize / 4);

inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint32_t Mix(uint32_t x) {
    return std::rotl(x * (2 * x + 1), 5);
}

// ---- portable engine: one block after another, words as the cipher defines
// them. Two blocks per step give the processor independent work while the
// multiplications of the other block are in flight.

struct Block {
    uint32_t a, b, c, d;
};

inline Block LoadBlock(const uint8_t* p) {
    return {LoadLe32(p), LoadLe32(p + 4), LoadLe32(p + 8), LoadLe32(p + 12)};
}

inline void StoreBlock(uint8_t* p, const Block& x) {
    StoreLe32(p, x.a);
    StoreLe32(p + 4, x.b);
    StoreLe32(p + 8, x.c);
    StoreLe32(p + 12, x.d);
}

inline void EncryptBlock(const uint32_t* s, Block& x) {
    uint32_t a = x.a, b = x.b + s[0], c = x.c, d = x.d + s[1];
    for (int i = 1; i <= Rc6::kRounds; ++i) {
        const uint32_t t = Mix(b);
        const uint32_t u = Mix(d);
        a = std::rotl(a ^ t, int(u & 31)) + s[2 * i];
        c = std::rotl(c ^ u, int(t & 31)) + s[2 * i + 1];
        const uint32_t first = a;
        a = b;
        b = c;
        c = d;
        d = first;
    }
    x = {a + s[2 * Rc6::kRounds + 2], b, c + s[2 * Rc6::kRounds + 3], d};
}

inline void DecryptBlock(const uint32_t* s, Block& x) {
    uint32_t a = x.a - s[2 * Rc6::kRounds + 2], b = x.b, c = x.c - s[2 * Rc6::kRounds + 3], d = x.d;
    for (int i = Rc6::kRounds; i >= 1; --i) {
        const uint32_t last = d;
        d = c;
        c = b;
        b = a;
        a = last;
        const uint32_t u = Mix(d);
        const uint32_t t = Mix(b);
        c = std::rotr(c - s[2 * i + 1], int(t & 31)) ^ u;
        a = std::rotr(a - s[2 * i], int(u & 31)) ^ t;
    }
    x = {a, b - s[0], c, d - s[1]};
}

template <bool kEncrypt>
void PortableBlocks(const uint32_t* s, const uint8_t* in, uint8_t* out, size_t blocks) {
    size_t i = 0;
    for (; i + 2 <= blocks; i += 2) {
        Block x = LoadBlock(in + i * 16);
        Block y = LoadBlock(in + i * 16 + 16);
        if constexpr (kEncrypt) {
            EncryptBlock(s, x);
            EncryptBlock(s, y);
        } else {
            DecryptBlock(s, x);
            DecryptBlock(s, y);
        }
        StoreBlock(out + i * 16, x);
        StoreBlock(out + i * 16 + 16, y);
    }
    if (i < blocks) {
        Block x = LoadBlock(in + i * 16);
        if constexpr (kEncrypt) {
            EncryptBlock(s, x);
        } else {
            DecryptBlock(s, x);
        }
        StoreBlock(out + i * 16, x);
    }
}

// ---- AVX2 engine: eight blocks in four registers, one word of each block
// per 32-bit lane (register A holds word A of the eight blocks, and so on).
// x86 is little-endian, so the words load as the cipher defines them.

#define TAVREL_AVX2 __attribute__((target("avx2")))

struct Lanes {
    __m256i a, b, c, d;
};

TAVREL_AVX2 inline Lanes LoadLanes(const uint8_t* p) {
    // Two blocks per register, then a 4x4 word transpose inside each half.
    const __m256i r0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i r1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const __m256i r2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64));
    const __m256i r3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 96));
    const __m256i t0 = _mm256_unpacklo_epi32(r0, r1);
    const __m256i t1 = _mm256_unpackhi_epi32(r0, r1);
    const __m256i t2 = _mm256_unpacklo_epi32(r2, r3);
    const __m256i t3 = _mm256_unpackhi_epi32(r2, r3);
    return {_mm256_unpacklo_epi64(t0, t2), _mm256_unpackhi_epi64(t0, t2),
            _mm256_unpacklo_epi64(t1, t3), _mm256_unpackhi_epi64(t1, t3)};
}

TAVREL_AVX2 inline void StoreLanes(uint8_t* p, const Lanes& x) {
    const __m256i t0 = _mm256_unpacklo_epi32(x.a, x.b);
    const __m256i t1 = _mm256_unpackhi_epi32(x.a, x.b);
    const __m256i t2 = _mm256_unpacklo_epi32(x.c, x.d);
    const __m256i t3 = _mm256_unpackhi_epi32(x.c, x.d);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_unpacklo_epi64(t0, t2));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 32), _mm256_unpackhi_epi64(t0, t2));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 64), _mm256_unpacklo_epi64(t1, t3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 96), _mm256_unpackhi_epi64(t1, t3));
}

TAVREL_AVX2 inline __m256i MixLanes(__m256i x) {
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i f = _mm256_mullo_epi32(x, _mm256_add_epi32(_mm256_add_epi32(x, x), one));
    return _mm256_or_si256(_mm256_slli_epi32(f, 5), _mm256_srli_epi32(f, 27));
}

// Rotations by the low five bits of n, lane by lane; a shift by 32 gives 0,
// so a rotation by 0 comes out right.
TAVREL_AVX2 inline __m256i RotlLanes(__m256i x, __m256i n) {
    n = _mm256_and_si256(n, _mm256_set1_epi32(31));
    return _mm256_or_si256(_mm256_sllv_epi32(x, n),
                           _mm256_srlv_epi32(x, _mm256_sub_epi32(_mm256_set1_epi32(32), n)));
}

TAVREL_AVX2 inline __m256i RotrLanes(__m256i x, __m256i n) {
    n = _mm256_and_si256(n, _mm256_set1_epi32(31));
    return _mm256_or_si256(_mm256_srlv_epi32(x, n),
                           _mm256_sllv_epi32(x, _mm256_sub_epi32(_mm256_set1_epi32(32), n)));
}

TAVREL_AVX2 inline __m256i Key(const uint32_t* s, int i) {
    return _mm256_set1_epi32(int(s[i]));
}

TAVREL_AVX2 inline void EncryptRound(const uint32_t* s, int i, Lanes& x) {
    const __m256i t = MixLanes(x.b);
    const __m256i u = MixLanes(x.d);
    const __m256i a = _mm256_add_epi32(RotlLanes(_mm256_xor_si256(x.a, t), u), Key(s, 2 * i));
    const __m256i c = _mm256_add_epi32(RotlLanes(_mm256_xor_si256(x.c, u), t), Key(s, 2 * i + 1));
    x = {x.b, c, x.d, a};
}

TAVREL_AVX2 inline void DecryptRound(const uint32_t* s, int i, Lanes& x) {
    // Undo the word rotation of the round first: (a, b, c, d) := (d, a, b, c).
    const Lanes r = {x.d, x.a, x.b, x.c};
    const __m256i u = MixLanes(r.d);
    const __m256i t = MixLanes(r.b);
    const __m256i c = _mm256_xor_si256(RotrLanes(_mm256_sub_epi32(r.c, Key(s, 2 * i + 1)), t), u);
    const __m256i a = _mm256_xor_si256(RotrLanes(_mm256_sub_epi32(r.a, Key(s, 2 * i)), u), t);
    x = {a, r.b, c, r.d};
}

TAVREL_AVX2 inline void EncryptLanes(const uint32_t* s, Lanes& x, Lanes& y) {
    x.b = _mm256_add_epi32(x.b, Key(s, 0));
    x.d = _mm256_add_epi32(x.d, Key(s, 1));
    y.b = _mm256_add_epi32(y.b, Key(s, 0));
    y.d = _mm256_add_epi32(y.d, Key(s, 1));
    for (int i = 1; i <= Rc6::kRounds; ++i) {
        EncryptRound(s, i, x);
        EncryptRound(s, i, y);
    }
    x.a = _mm256_add_epi32(x.a, Key(s, 2 * Rc6::kRounds + 2));
    x.c = _mm256_add_epi32(x.c, Key(s, 2 * Rc6::kRounds + 3));
    y.a = _mm256_add_epi32(y.a, Key(s, 2 * Rc6::kRounds + 2));
    y.c = _mm256_add_epi32(y.c, Key(s, 2 * Rc6::kRounds + 3));
}

TAVREL_AVX2 inline void DecryptLanes(const uint32_t* s, Lanes& x, Lanes& y) {
    x.a = _mm256_sub_epi32(x.a, Key(s, 2 * Rc6::kRounds + 2));
    x.c = _mm256_sub_epi32(x.c, Key(s, 2 * Rc6::kRounds + 3));
    y.a = _mm256_sub_epi32(y.a, Key(s, 2 * Rc6::kRounds + 2));
    y.c = _mm256_sub_epi32(y.c, Key(s, 2 * Rc6::kRounds + 3));
    for (int i = Rc6::kRounds; i >= 1; --i) {
        DecryptRound(s, i, x);
        DecryptRound(s, i, y);
    }
    x.b = _mm256_sub_epi32(x.b, Key(s, 0));
    x.d = _mm256_sub_epi32(x.d, Key(s, 1));
    y.b = _mm256_sub_epi32(y.b, Key(s, 0));
    y.d = _mm256_sub_epi32(y.d, Key(s, 1));
}

// Sixteen blocks per step: two independent groups of eight keep the
// multipliers busy while the other group waits for its results.
template <bool kEncrypt>
TAVREL_AVX2 void Avx2Blocks(const uint32_t* s, const uint8_t* in, uint8_t* out, size_t blocks) {
    constexpr size_t kGroup = 8 * Rc6::kBlockSize;
    size_t i = 0;
    for (; i + 16 <= blocks; i += 16) {
        Lanes x = LoadLanes(in + i * 16);
        Lanes y = LoadLanes(in + i * 16 + kGroup);
        if constexpr (kEncrypt) {
            EncryptLanes(s, x, y);
        } else {
            DecryptLanes(s, x, y);
        }
        StoreLanes(out + i * 16, x);
        StoreLanes(out + i * 16 + kGroup, y);
    }
    if (i == blocks) return;
    // The last 1 to 15 blocks go through a scratch copy padded to sixteen.
    alignas(32) uint8_t tail[2 * kGroup] = {};
    const size_t bytes = (blocks - i) * Rc6::kBlockSize;
    std::memcpy(tail, in + i * 16, bytes);
    Lanes x = LoadLanes(tail);
    Lanes y = LoadLanes(tail + kGroup);
    if constexpr (kEncrypt) {
        EncryptLanes(s, x, y);
    } else {
        DecryptLanes(s, x, y);
    }
    StoreLanes(tail, x);
    StoreLanes(tail + kGroup, y);
    std::memcpy(out + i * 16, tail, bytes);
}

bool CpuHasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

Rc6::Engine Resolve(Rc6::Engine engine) {
    if (engine == Rc6::Engine::Portable) return engine;
    return CpuHasAvx2() ? Rc6::Engine::Avx2 : Rc6::Engine::Portable;
}

}  // namespace

Rc6::Rc6() {
    const uint8_t zero[kKeySize] = {};
    setKey(zero);
}

Rc6::Rc6(const uint8_t key[kKeySize]) {
    setKey(key);
}

void Rc6::setKey(const uint8_t key[kKeySize]) {
    uint32_t l[kKeyWords];
    for (int k = 0; k < kKeyWords; ++k) l[k] = LoadLe32(key + 4 * k);
    s_[0] = kP32;
    for (int k = 1; k < kScheduleWords; ++k) s_[k] = s_[k - 1] + kQ32;
    uint32_t a = 0, b = 0;
    int i = 0, j = 0;
    for (int step = 0; step < 3 * std::max(kKeyWords, kScheduleWords); ++step) {
        a = s_[i] = std::rotl(s_[i] + a + b, 3);
        b = l[j] = std::rotl(l[j] + a + b, int((a + b) & 31));
        i = (i + 1) % kScheduleWords;
        j = (j + 1) % kKeyWords;
    }
}

void Rc6::KeyFromText(std::string_view text, uint8_t key[kKeySize]) {
    std::memset(key, 0, kKeySize);
    std::memcpy(key, text.data(), std::min(text.size(), kKeySize));
}

void Rc6::encryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, Engine engine) const {
    if (blocks == 0) return;
    if (Resolve(engine) == Engine::Avx2) {
        Avx2Blocks<true>(s_, in, out, blocks);
    } else {
        PortableBlocks<true>(s_, in, out, blocks);
    }
}

void Rc6::decryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, Engine engine) const {
    if (blocks == 0) return;
    if (Resolve(engine) == Engine::Avx2) {
        Avx2Blocks<false>(s_, in, out, blocks);
    } else {
        PortableBlocks<false>(s_, in, out, blocks);
    }
}

bool Rc6::Available(Engine engine) {
    return engine != Engine::Avx2 || CpuHasAvx2();
}

Rc6::Engine Rc6::Best() {
    return Resolve(Engine::Auto);
}
