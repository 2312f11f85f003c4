#pragma once
// zlib inflation of one whole stream per call, with the results of zlib's
// uncompress() but without its cost per call: nothing is allocated per stream.
//
// When the station is built with libdeflate, the usual stream (one final
// block whose codes zlib itself would accept) is inflated by libdeflate,
// which does it in less than half of zlib's time; every other stream, and
// every stream libdeflate refuses, goes through a zlib inflate state made
// once and reset per stream, so verdicts and output stay zlib's own.
#include <zlib.h>

#include <cstddef>
#include <cstdint>

struct libdeflate_decompressor;

class Inflater {
  public:
    enum class Engine {
        Fastest,  // libdeflate where it gives zlib's result, zlib elsewhere
        Zlib,     // zlib for every stream
    };

    explicit Inflater(Engine engine = Engine::Fastest);
    // zlib for every stream, with the caller's allocation functions (zlib's
    // own when null), so that a test can make zlib run out of memory or
    // count what it takes: all the inflater's memory then comes from them,
    // and libdeflate, which allocates with malloc, is not used.
    Inflater(alloc_func alloc, free_func release, void* opaque);
    virtual ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Inflates the zlib stream (RFC 1950) of sourceLen bytes into dest of
    // *destLen bytes. Returns what uncompress() returns for the same bytes:
    // Z_OK with *destLen = the inflated length; Z_BUF_ERROR when dest is too
    // small; Z_DATA_ERROR for corrupt or cut-short data or a preset
    // dictionary; Z_MEM_ERROR when zlib cannot get its memory. Bytes after
    // the end of the stream are ignored, as uncompress() ignores them.
    virtual int uncompress(uint8_t* dest, size_t* destLen, const uint8_t* source, size_t sourceLen);

    // Streams inflated by libdeflate so far (the rest went through zlib).
    uint64_t fastInflations() const { return fastInflations_; }

  private:
    int inflateWithZlib(uint8_t* dest, size_t* destLen, const uint8_t* source, size_t sourceLen);

    z_stream stream_{};
    bool ready_ = false;
    libdeflate_decompressor* deflater_ = nullptr;
    uint64_t fastInflations_ = 0;
};
