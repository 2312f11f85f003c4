#include "controller/Inflater.h"

#include <climits>
#include <cstring>

#if TAVREL_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

#if TAVREL_HAVE_LIBDEFLATE

// The bits of a deflate stream in their order (RFC 1951: lowest bit of each
// byte first). Bits past the end read as zeros; overran() tells whether any
// of them were taken.
class BitReader {
  public:
    BitReader(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}

    uint32_t peek(unsigned n) {
        while (count_ < n) {
            uint64_t byte = 0;
            if (next_ < end_) {
                byte = *next_++;
            } else {
                ++padding_;
            }
            bits_ |= byte << count_;
            count_ += 8;
        }
        return uint32_t(bits_ & ((uint64_t(1) << n) - 1));
    }
    void skip(unsigned n) {
        bits_ >>= n;
        count_ -= n;
    }
    uint32_t take(unsigned n) {
        const uint32_t value = peek(n);
        skip(n);
        return value;
    }
    bool overran() const { return padding_ * 8 > count_; }

  private:
    const uint8_t* next_;
    const uint8_t* end_;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    size_t padding_ = 0;
};

// Whether the code lengths fill the code space exactly: a complete prefix
// code, with which every bit pattern is a codeword.
bool Complete(const uint8_t* lengths, unsigned n, unsigned maxLength) {
    uint32_t used = 0;
    for (unsigned i = 0; i < n; ++i)
        if (lengths[i] != 0) used += uint32_t(1) << (maxLength - lengths[i]);
    return used == uint32_t(1) << maxLength;
}

// libdeflate and zlib agree on well-formed streams, but libdeflate lets
// through some malformed ones that zlib rejects: more than 286
// literal/length or 30 distance codes, literal/length symbols 286 and 287
// (matches of 258 bytes to libdeflate; the fixed codes have them), a
// code-length code of a single codeword, runs of code lengths past the
// announced count, and the unassigned codewords of incomplete codes. All of
// them lie in block headers and the codes they describe, so libdeflate gets
// only a stream of one final block that is stored or carries codes zlib
// would build whole: complete, within the counts above. Inside such a block
// every codeword means the same to both, and what they check beyond it
// (distances, lengths, the Adler-32 trailer) they check alike. Everything
// else goes to zlib: streams of several blocks (zlib's deflate starts a new
// one after 16,383 literals and matches at its default memory level, which a
// packet's payload seldom reaches) and streams in the fixed codes (chosen
// for very repetitive data, which inflates quickly anyway).
bool OneCheckedBlock(const uint8_t* source, size_t sourceLen) {
    if (sourceLen < 3) return false;
    BitReader in(source + 2, sourceLen - 2);  // after the two header bytes
    if (in.take(1) != 1) return false;        // more blocks follow
    const uint32_t type = in.take(2);
    if (type == 0) return !in.overran();  // stored: both copy it alike
    if (type != 2) return false;          // fixed codes (286, 287) or invalid
    const unsigned lengthCodes = in.take(5) + 257;
    const unsigned distanceCodes = in.take(5) + 1;
    const unsigned codeLengthCodes = in.take(4) + 4;
    if (lengthCodes > 286 || distanceCodes > 30) return false;

    static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
    uint8_t codeLengthLengths[19] = {};
    for (unsigned i = 0; i < codeLengthCodes; ++i)
        codeLengthLengths[kOrder[i]] = uint8_t(in.take(3));
    if (!Complete(codeLengthLengths, 19, 7)) return false;

    // Canonical codes, looked up by the next seven bits (first bit lowest).
    struct Entry {
        uint8_t symbol;
        uint8_t length;
    };
    Entry table[128];
    unsigned counts[8] = {};
    for (uint8_t length : codeLengthLengths) ++counts[length];
    counts[0] = 0;
    unsigned nextCode[8] = {};
    for (unsigned length = 1, code = 0; length < 8; ++length) {
        code = (code + counts[length - 1]) << 1;
        nextCode[length] = code;
    }
    for (unsigned symbol = 0; symbol < 19; ++symbol) {
        const unsigned length = codeLengthLengths[symbol];
        if (length == 0) continue;
        const unsigned code = nextCode[length]++;
        unsigned reversed = 0;
        for (unsigned b = 0; b < length; ++b) reversed |= ((code >> b) & 1) << (length - 1 - b);
        for (unsigned i = reversed; i < 128; i += 1u << length)
            table[i] = {uint8_t(symbol), uint8_t(length)};
    }

    const unsigned total = lengthCodes + distanceCodes;
    uint8_t lengths[286 + 30];
    unsigned n = 0;
    while (n < total) {
        const Entry e = table[in.peek(7)];
        in.skip(e.length);
        if (e.symbol < 16) {
            lengths[n++] = e.symbol;
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (e.symbol == 16) {
            if (n == 0) return false;
            value = lengths[n - 1];
            repeat = 3 + in.take(2);
        } else if (e.symbol == 17) {
            repeat = 3 + in.take(3);
        } else {
            repeat = 11 + in.take(7);
        }
        if (repeat > total - n) return false;
        std::memset(lengths + n, value, repeat);
        n += repeat;
    }
    if (in.overran() || lengths[256] == 0) return false;
    return Complete(lengths, lengthCodes, 15) && Complete(lengths + lengthCodes, distanceCodes, 15);
}

#endif  // TAVREL_HAVE_LIBDEFLATE

}  // namespace

Inflater::Inflater(Engine engine) {
#if TAVREL_HAVE_LIBDEFLATE
    // Made once for the inflater's life: libdeflate allocates nothing per
    // stream. Without its memory the inflater still works, through zlib.
    if (engine == Engine::Fastest) deflater_ = libdeflate_alloc_decompressor();
#else
    (void)engine;
#endif
}

Inflater::Inflater(alloc_func alloc, free_func release, void* opaque) {
    stream_.zalloc = alloc;
    stream_.zfree = release;
    stream_.opaque = opaque;
}

Inflater::~Inflater() {
    if (ready_) inflateEnd(&stream_);
#if TAVREL_HAVE_LIBDEFLATE
    libdeflate_free_decompressor(deflater_);
#endif
}

int Inflater::uncompress(uint8_t* dest, size_t* destLen, const uint8_t* source, size_t sourceLen) {
    if (*destLen > UINT_MAX || sourceLen > UINT_MAX) return Z_STREAM_ERROR;
#if TAVREL_HAVE_LIBDEFLATE
    // Success only: whatever libdeflate refuses, zlib looks at again, so that
    // each failure keeps the kind zlib gives it (a cut-short stream and a
    // full buffer, for one, are the same failure to libdeflate).
    if (deflater_ != nullptr && OneCheckedBlock(source, sourceLen)) {
        size_t inflated = 0;
        if (libdeflate_zlib_decompress(deflater_, source, sourceLen, dest, *destLen, &inflated) ==
            LIBDEFLATE_SUCCESS) {
            *destLen = inflated;
            ++fastInflations_;
            return Z_OK;
        }
    }
#endif
    return inflateWithZlib(dest, destLen, source, sourceLen);
}

int Inflater::inflateWithZlib(uint8_t* dest, size_t* destLen, const uint8_t* source,
                              size_t sourceLen) {
    // The state is made on first use and again after a failed attempt, so a
    // passing shortage of memory costs only the packets that met it.
    int err = ready_ ? inflateReset(&stream_) : inflateInit(&stream_);
    if (err != Z_OK) return err;
    ready_ = true;
    stream_.next_in = const_cast<Bytef*>(source);
    stream_.avail_in = uInt(sourceLen);
    stream_.next_out = dest;
    stream_.avail_out = uInt(*destLen);
    // Everything is at hand, so one call with Z_FINISH does the whole stream
    // and zlib need not keep a copy of the output in its window.
    err = inflate(&stream_, Z_FINISH);
    *destLen = stream_.total_out;
    if (err == Z_STREAM_END) return Z_OK;
    if (err == Z_NEED_DICT) return Z_DATA_ERROR;
    // Output space left over means the input ran out before the stream's end.
    if (err == Z_BUF_ERROR && stream_.avail_out > 0) return Z_DATA_ERROR;
    return err;
}
