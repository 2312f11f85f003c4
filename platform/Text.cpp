#include "platform/Text.h"

#include <iconv.h>

#include <cerrno>

namespace platform {
namespace {

// iconv descriptors are not thread-safe; each thread keeps its own pair.
struct Converters {
    iconv_t toUtf8 = iconv_open("UTF-8", "GBK");
    iconv_t toGbk = iconv_open("GBK", "UTF-8");
    ~Converters() {
        if (toUtf8 != iconv_t(-1)) iconv_close(toUtf8);
        if (toGbk != iconv_t(-1)) iconv_close(toGbk);
    }
};

Converters& Local() {
    thread_local Converters c;
    return c;
}

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Runs cd over the input; at every invalid or unconvertible sequence emits
// `replacement` and skips what skipLength() says.
template <typename Skip>
std::string Convert(iconv_t cd, std::string_view in, std::string_view replacement,
                    Skip skipLength) {
    std::string out;
    if (cd == iconv_t(-1)) {
        // No converter on this system: keep ASCII, replace the rest.
        for (unsigned char c : in) {
            if (c < 0x80)
                out.push_back(char(c));
            else
                out.append(replacement);
        }
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.reserve(in.size() * 3 / 2 + 8);
    char buf[1024];
    size_t pos = 0;
    while (pos < in.size()) {
        char* src = const_cast<char*>(in.data() + pos);
        size_t srcLeft = in.size() - pos;
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        int err = errno;
        out.append(buf, size_t(dst - buf));
        pos = in.size() - srcLeft;
        if (r != size_t(-1)) break;
        if (err == E2BIG) continue;
        // EILSEQ or EINVAL (truncated sequence at the end).
        out.append(replacement);
        size_t skip = skipLength(in.substr(pos));
        pos += skip == 0 ? 1 : skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace

int Utf8SequenceLength(std::string_view s) {
    if (s.empty()) return 0;
    auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = b(0);
    int len;
    uint32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() < size_t(len)) return 0;
    for (int i = 1; i < len; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return len;
}

std::string GbkToUtf8(std::string_view gbk) {
    if (IsAscii(gbk)) return std::string(gbk);
    return Convert(Local().toUtf8, gbk, "\xEF\xBF\xBD", [](std::string_view rest) -> size_t {
        // A lead byte followed by an invalid trail is replaced as one unit
        // only when the trail is not ASCII, so ASCII text is never swallowed.
        auto c0 = static_cast<unsigned char>(rest[0]);
        if (c0 >= 0x81 && c0 <= 0xFE && rest.size() >= 2 &&
            static_cast<unsigned char>(rest[1]) >= 0x80)
            return 2;
        return 1;
    });
}

std::string Utf8ToGbk(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    return Convert(Local().toGbk, utf8, "?", [](std::string_view rest) -> size_t {
        return size_t(Utf8SequenceLength(rest));
    });
}

}  // namespace platform
