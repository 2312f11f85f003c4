#include "config/Ipv4Text.h"

#include <cstring>

namespace {

// One part of an address: its value, or false when the text is not a number
// or does not fit in 32 bits.
bool ParsePart(std::string_view text, uint64_t* out) {
    unsigned base = 10;
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
        if (text.empty()) return false;
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            return false;
        if (digit >= base) return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return false;
    }
    *out = value;
    return true;
}

}  // namespace

uint32_t Ipv4FromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

uint32_t ParseIpv4(std::string_view text) {
    uint64_t parts[4];
    int count = 0;
    for (;;) {
        size_t dot = text.find('.');
        if (count == 4 || !ParsePart(text.substr(0, dot), &parts[count])) return kInvalidAddr;
        ++count;
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    // The last part fills the bytes that the earlier parts leave: a, a.b
    // (8.24 bits), a.b.c (8.8.16 bits) or a.b.c.d.
    uint64_t host = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) return kInvalidAddr;
        host |= parts[i] << (24 - 8 * i);
    }
    const int lastBits = 32 - 8 * (count - 1);
    if (lastBits < 32 && parts[count - 1] >> lastBits != 0) return kInvalidAddr;
    host |= parts[count - 1];
    return Ipv4FromOctets(uint8_t(host >> 24), uint8_t(host >> 16), uint8_t(host >> 8),
                          uint8_t(host));
}

std::string FormatIpv4(uint32_t networkOrder) {
    uint8_t bytes[4];
    std::memcpy(bytes, &networkOrder, 4);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}
