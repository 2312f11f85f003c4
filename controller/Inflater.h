#pragma once
// zlib inflation of one whole stream per call, with the results of zlib's
// uncompress() but without its cost per call: the inflate state is made once
// and reset for every stream, so decoding a packet allocates nothing.
#include <zlib.h>

#include <cstddef>
#include <cstdint>

class Inflater {
  public:
    // Custom allocation functions (zlib's own when null), so that a test can
    // make zlib run out of memory.
    explicit Inflater(alloc_func alloc = nullptr, free_func release = nullptr,
                      void* opaque = nullptr);
    virtual ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Inflates the zlib stream (RFC 1950) of sourceLen bytes into dest of
    // *destLen bytes. Returns what uncompress() returns for the same bytes:
    // Z_OK with *destLen = the inflated length; Z_BUF_ERROR when dest is too
    // small; Z_DATA_ERROR for corrupt or cut-short data or a preset
    // dictionary; Z_MEM_ERROR when zlib cannot get its memory.
    virtual int uncompress(uint8_t* dest, size_t* destLen, const uint8_t* source, size_t sourceLen);

  private:
    z_stream stream_{};
    bool ready_ = false;
};
