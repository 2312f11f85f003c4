#include "controller/Inflater.h"

#include <climits>

Inflater::Inflater(alloc_func alloc, free_func release, void* opaque) {
    stream_.zalloc = alloc;
    stream_.zfree = release;
    stream_.opaque = opaque;
}

Inflater::~Inflater() {
    if (ready_) inflateEnd(&stream_);
}

int Inflater::uncompress(uint8_t* dest, size_t* destLen, const uint8_t* source, size_t sourceLen) {
    if (*destLen > UINT_MAX || sourceLen > UINT_MAX) return Z_STREAM_ERROR;
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
