// RC6 deciphering of a largest payload (8160 bytes, 510 blocks), ours on each
// engine beside Crypto++'s RC6 in the same run.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "controller/Rc6.h"

#ifdef TAVREL_HAVE_CRYPTOPP
#include <cryptopp/modes.h>
#include <cryptopp/rc6.h>
#endif

namespace {

constexpr size_t kPayload = 8160;

struct Data {
    uint8_t key[16];
    std::vector<uint8_t> in, out;
    Data() : in(kPayload), out(kPayload) {
        std::mt19937 rng(1);
        for (auto& b : key) b = uint8_t(rng());
        for (auto& b : in) b = uint8_t(rng());
    }
};

void Ours(benchmark::State& state, Rc6::Engine engine, bool decrypt) {
    if (!Rc6::Available(engine)) {
        state.SkipWithError("engine not available on this processor");
        return;
    }
    Data d;
    const Rc6 rc6(d.key);
    for (auto _ : state) {
        if (decrypt) {
            rc6.decryptBlocks(d.in.data(), d.out.data(), kPayload / 16, engine);
        } else {
            rc6.encryptBlocks(d.in.data(), d.out.data(), kPayload / 16, engine);
        }
        benchmark::DoNotOptimize(d.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPayload));
}

BENCHMARK_CAPTURE(Ours, decrypt_auto, Rc6::Engine::Auto, true);
BENCHMARK_CAPTURE(Ours, decrypt_avx2, Rc6::Engine::Avx2, true);
BENCHMARK_CAPTURE(Ours, decrypt_portable, Rc6::Engine::Portable, true);
BENCHMARK_CAPTURE(Ours, encrypt_auto, Rc6::Engine::Auto, false);
BENCHMARK_CAPTURE(Ours, encrypt_portable, Rc6::Engine::Portable, false);

void KeySchedule(benchmark::State& state) {
    Data d;
    Rc6 rc6;
    for (auto _ : state) {
        rc6.setKey(d.key);
        benchmark::DoNotOptimize(rc6.schedule());
    }
}
BENCHMARK(KeySchedule);

#ifdef TAVREL_HAVE_CRYPTOPP
// Crypto++ in ECB mode over the whole payload (its own multi-block path) and
// block by block.
void CryptoppEcbDecrypt(benchmark::State& state) {
    Data d;
    CryptoPP::ECB_Mode<CryptoPP::RC6>::Decryption dec(d.key, sizeof d.key);
    for (auto _ : state) {
        dec.ProcessData(d.out.data(), d.in.data(), kPayload);
        benchmark::DoNotOptimize(d.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPayload));
}
BENCHMARK(CryptoppEcbDecrypt);

void CryptoppBlockDecrypt(benchmark::State& state) {
    Data d;
    CryptoPP::RC6::Decryption dec(d.key, sizeof d.key);
    for (auto _ : state) {
        for (size_t i = 0; i < kPayload; i += 16)
            dec.ProcessBlock(d.in.data() + i, d.out.data() + i);
        benchmark::DoNotOptimize(d.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPayload));
}
BENCHMARK(CryptoppBlockDecrypt);
#endif

}  // namespace

BENCHMARK_MAIN();
