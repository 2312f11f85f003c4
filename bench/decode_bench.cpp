// DecodePacket on largest packets for the method mixes the master station
// uses, and the 0x25 decode against the sum of its parts measured alone
// (inflation, RC6, Adler-32 on the same bytes). The inflation is measured
// each way: zlib's uncompress, the inflater on zlib alone, the inflater as
// the decoder uses it, and libdeflate alone.
#include <benchmark/benchmark.h>
#include <zlib.h>

#if TAVREL_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "controller/DecodePacket.h"
#include "controller/Inflater.h"
#include "controller/PacketTypes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Quote-like records: codes, a name, and price fields of which a share
// (fraction) vary; more variation compresses worse.
Bytes Records(size_t n, double fraction) {
    Bytes out;
    uint32_t x = 12345;
    auto next = [&x] { return x = x * 1664525u + 1013904223u; };
    char field[16];
    while (out.size() < n) {
        std::snprintf(field, sizeof field, "%06u", 830000 + next() % 10000);
        out.insert(out.end(), field, field + 6);
        const char* name = "SEC-NAME  ";
        out.insert(out.end(), name, name + 10);
        for (int k = 0; k < 24; ++k) {
            if ((next() >> 8) % 1000 < fraction * 1000) {
                std::snprintf(field, sizeof field, "%8u", (next() >> 4) % 100000000u);
            } else {
                std::memcpy(field, "       0", 9);
            }
            out.insert(out.end(), field, field + 8);
        }
    }
    out.resize(n);
    return out;
}

Bytes Deflate(const Bytes& plain) {
    uLongf size = compressBound(uLong(plain.size()));
    Bytes out(size);
    compress2(out.data(), &size, plain.data(), uLong(plain.size()), 6);
    out.resize(size);
    return out;
}

// A largest packet: 8160 payload bytes, or for zlib a 24540-byte payload whose
// stream (rounded to whole blocks when enciphered) comes as close to 8160
// bytes as the data allows.
struct Sample {
    Bytes wire;
    Bytes plain;
    Bytes compressed;
};

Sample Build(uint8_t flags) {
    Sample s;
    if (flags & Packet::kZlib) {
        for (double f = 0.80; f > 0.05; f -= 0.01) {
            s.plain = Records(Packet::kWorkBufferSize, f);
            s.compressed = Deflate(s.plain);
            if ((s.compressed.size() + 15) / 16 * 16 <= Packet::kMaxPayload) break;
        }
    } else {
        s.plain = Records(Packet::kMaxPayload, 0.5);
    }
    Bytes body = (flags & Packet::kZlib) ? s.compressed : s.plain;
    const size_t plainLen = body.size();
    if (flags & Packet::kRc6) {
        body.resize((plainLen + 15) / 16 * 16, 0);
        EncryptPayload(body.data(), body.size(), plainLen, kDefaultChannelKey);
    }
    uint32_t sum = 0;
    if ((flags & Packet::kChecksumMask) == Packet::kCrc32)
        sum = uint32_t(crc32(0, body.data(), uInt(body.size())));
    if ((flags & Packet::kChecksumMask) == Packet::kAdler32)
        sum = uint32_t(adler32(1, body.data(), uInt(body.size())));
    Packet::Ptr p = Packet::Create(uint32_t(body.size()));
    p->setChannelId(kPrimaryChannelId);
    p->setType(PacketType::kSecurityQuotes);
    p->setFlags(flags);
    p->setPayloadLen(uint16_t(body.size()));
    p->setPlainLen(uint16_t(plainLen));
    p->setOrigLen(uint16_t(s.plain.size()));
    p->setChecksum(sum);
    std::memcpy(p->payload(), body.data(), body.size());
    s.wire.assign(p->data(), p->data() + p->totalLength());
    return s;
}

// Each iteration copies the received bytes into the packet, as a receiver
// does, and decodes them (the copy alone is measured by ReceiveCopy).
void Decode(benchmark::State& state) {
    const uint8_t flags = uint8_t(state.range(0));
    const Sample s = Build(flags);
    DecodeContext context;
    context.createChannels();
    Packet::Ptr packet = Packet::FromBytes(s.wire.data(), s.wire.size());
    for (auto _ : state) {
        std::memcpy(packet->data(), s.wire.data(), s.wire.size());
        if (DecodePacket(context, *packet) != kDecodeOk) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(packet->payload());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.wire.size()));
    state.counters["wire_bytes"] = double(s.wire.size());
    state.counters["decoded_bytes"] = double(s.plain.size());
}
BENCHMARK(Decode)->Arg(0x00)->Arg(0x10)->Arg(0x20)->Arg(0x24)->Arg(0x25);

void ReceiveCopy(benchmark::State& state) {
    const Sample s = Build(0x25);
    Packet::Ptr packet = Packet::FromBytes(s.wire.data(), s.wire.size());
    for (auto _ : state) {
        std::memcpy(packet->data(), s.wire.data(), s.wire.size());
        benchmark::DoNotOptimize(packet->data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ReceiveCopy);

// The parts of a 0x25 decode, each alone on the same bytes, and the
// inflation done each way the station can do it.
struct Parts {
    Sample s = Build(0x25);
    Bytes payload{s.wire.begin() + Packet::kHeaderSize, s.wire.end()};
    Bytes scratch = Bytes(Packet::kWorkBufferSize);
    Rc6 rc6;
    Inflater fastest{Inflater::Engine::Fastest};
    Inflater zlibOnly{Inflater::Engine::Zlib};
    Parts() {
        uint8_t key[Rc6::kKeySize];
        Rc6::KeyFromText(kDefaultChannelKey, key);
        rc6.setKey(key);
    }
    bool uncompressPart() {
        uLongf len = uLongf(scratch.size());
        return ::uncompress(scratch.data(), &len, s.compressed.data(),
                            uLong(s.compressed.size())) == Z_OK &&
               len == s.plain.size();
    }
    bool inflaterPart(Inflater& inflater) {
        size_t len = scratch.size();
        return inflater.uncompress(scratch.data(), &len, s.compressed.data(),
                                   s.compressed.size()) == Z_OK &&
               len == s.plain.size();
    }
#if TAVREL_HAVE_LIBDEFLATE
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> deflater{
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor};
    bool libdeflatePart() {
        size_t len = 0;
        return libdeflate_zlib_decompress(deflater.get(), s.compressed.data(), s.compressed.size(),
                                          scratch.data(), scratch.size(),
                                          &len) == LIBDEFLATE_SUCCESS &&
               len == s.plain.size();
    }
#endif
    // The inflation the decoder does, alone: libdeflate's when the station
    // is built with it (the sample is a stream it takes), zlib's otherwise.
    bool decoderInflationPart() {
#if TAVREL_HAVE_LIBDEFLATE
        return libdeflatePart();
#else
        return uncompressPart();
#endif
    }
    void rc6Part() {
        rc6.decryptBlocks(payload.data(), scratch.data(), payload.size() / 16);
    }
    uint32_t adlerPart() {
        return uint32_t(adler32(1, payload.data(), uInt(payload.size())));
    }
};

enum PartKind { kUncompress, kRc6, kAdler32, kInflaterZlib, kInflater, kLibdeflate };

void Part(benchmark::State& state) {
    Parts parts;
    const int which = int(state.range(0));
    for (auto _ : state) {
        bool ok = true;
        switch (which) {
            case kUncompress:
                ok = parts.uncompressPart();
                break;
            case kRc6:
                parts.rc6Part();
                break;
            case kAdler32:
                benchmark::DoNotOptimize(parts.adlerPart());
                break;
            case kInflaterZlib:
                ok = parts.inflaterPart(parts.zlibOnly);
                break;
            case kInflater:
                ok = parts.inflaterPart(parts.fastest);
                break;
#if TAVREL_HAVE_LIBDEFLATE
            case kLibdeflate:
                ok = parts.libdeflatePart();
                break;
#endif
        }
        if (!ok) {
            state.SkipWithError("inflation failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    static const char* const kLabels[] = {"uncompress",      "rc6",      "adler32",
                                          "Inflater (zlib)", "Inflater", "libdeflate"};
    state.SetLabel(kLabels[which]);
    if (which == kInflater)
        state.counters["by_libdeflate"] = double(parts.fastest.fastInflations() > 0);
}
BENCHMARK(Part)
    ->Arg(kUncompress)
    ->Arg(kRc6)
    ->Arg(kAdler32)
    ->Arg(kInflaterZlib)
    ->Arg(kInflater)
#if TAVREL_HAVE_LIBDEFLATE
    ->Arg(kLibdeflate)
#endif
    ;

// The budget in one figure: time of a whole 0x25 decode (receive copy
// included) over the time of its inflation + RC6 + Adler-32 measured alone
// in the same run. Must stay at or below 1.2.
void Decode25Budget(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Parts parts;
    DecodeContext context;
    context.createChannels();
    const Bytes& wire = parts.s.wire;
    Packet::Ptr packet = Packet::FromBytes(wire.data(), wire.size());
    constexpr int kReps = 200;
    double decodeNs = 0, partsNs = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kReps; ++i) {
            std::memcpy(packet->data(), wire.data(), wire.size());
            DecodePacket(context, *packet);
        }
        const auto t1 = Clock::now();
        for (int i = 0; i < kReps; ++i) {
            benchmark::DoNotOptimize(parts.adlerPart());
            parts.rc6Part();
            benchmark::DoNotOptimize(parts.decoderInflationPart());
            benchmark::ClobberMemory();
        }
        const auto t2 = Clock::now();
        decodeNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        partsNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
    }
    const double n = double(state.iterations()) * kReps;
    state.counters["decode_us"] = decodeNs / n / 1000;
    state.counters["parts_us"] = partsNs / n / 1000;
    state.counters["ratio"] = decodeNs / partsNs;
}
BENCHMARK(Decode25Budget)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
