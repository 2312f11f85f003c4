#pragma once
// A small deterministic random generator (xoshiro256**, seeded through
// splitmix64): the same seed gives the same market and the same faults on
// every machine, which the standard library's distributions do not promise.
#include <cstdint>

namespace mastersim {

class Rng {
  public:
    explicit Rng(uint64_t seed = 1) { reseed(seed); }
    void reseed(uint64_t seed) {
        for (uint64_t& s : s_) {
            seed += 0x9E3779B97F4A7C15ull;
            uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            s = z ^ (z >> 31);
        }
    }
    uint64_t next() {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // 0 .. n-1 (0 when n is 0).
    uint64_t below(uint64_t n) {
        if (n == 0) return 0;
        return uint64_t((static_cast<unsigned __int128>(next()) * n) >> 64);
    }
    // lo .. hi inclusive.
    int64_t range(int64_t lo, int64_t hi) {
        if (hi <= lo) return lo;
        return lo + int64_t(below(uint64_t(hi - lo) + 1));
    }
    // 0 <= x < 1
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    bool chance(double p) { return p > 0 && unit() < p; }

  private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t s_[4];
};

}  // namespace mastersim
