#include "quotes/NumberFormat.h"

#include "quotes/NumberLanes.h"

#include <cstdio>
#include <limits>

using namespace numfmt_detail;

#if TAVREL_NUMBER_LANES
bool numlanes::LanesAvailable() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}
#endif

namespace {

// Space for the longest text any of these formats can produce: sign, 19
// digits, point, 18 decimals; and the zero-filled form's zeros.
constexpr size_t kScratch = 320;

// Right-aligns text in the field, or keeps its first `width` characters.
void Emit(char* dst, unsigned width, const char* text, size_t length) {
    if (length >= width) {
        std::memcpy(dst, text, width);
        return;
    }
    const size_t pad = width - length;
    std::memset(dst, ' ', pad);
    std::memcpy(dst + pad, text, length);
}

}  // namespace

void numfmt_detail::FormatFixedWithPrintf(char* dst, unsigned width, unsigned decimals,
                                          int64_t scaled) {
    char text[kScratch];
    const double value = static_cast<double>(scaled) / static_cast<double>(kPow10[decimals]);
    const int n = std::snprintf(text, sizeof text, "%.*f", static_cast<int>(decimals), value);
    Emit(dst, width, text, n > 0 ? static_cast<size_t>(n) : 0);
}

void FormatIntField(char* dst, unsigned width, int64_t value) {
    char text[24];
    char* end = text + sizeof text;
    char* first = PutDigits(end, Magnitude(value));
    if (value < 0) *--first = '-';
    Emit(dst, width, first, static_cast<size_t>(end - first));
}

void FormatFixedField(char* dst, unsigned width, unsigned decimals, int64_t scaled) {
    if (decimals > kMaxDecimals) decimals = kMaxDecimals;
    const uint64_t magnitude = Magnitude(scaled);
    if (magnitude >= kExactLimit) {
        FormatFixedWithPrintf(dst, width, decimals, scaled);
        return;
    }
    char text[48];
    char* end = text + sizeof text;
    char* first = end;
    if (decimals == 0) {
        first = PutDigits(end, magnitude);
    } else {
        const uint64_t unit = kPow10[decimals];
        first = PutFixedDigits(end, magnitude % unit, decimals);
        *--first = '.';
        first = PutDigits(first, magnitude / unit);
    }
    if (scaled < 0) *--first = '-';
    Emit(dst, width, first, static_cast<size_t>(end - first));
}

void FormatZeroFilledField(char* dst, unsigned width, unsigned spaces, unsigned digits,
                           int64_t value) {
    // Only what can reach the field matters; anything past `width` is cut.
    if (spaces > width) spaces = width;
    char text[kScratch];
    // Zeros beyond the scratch space would lie past any field (at most 255 wide).
    if (digits > kScratch - 24) digits = kScratch - 24;
    char* end = text + sizeof text;
    char* first = PutDigits(end, Magnitude(value));
    // %0Nd counts the sign in the width and puts the zeros after it.
    const unsigned signWidth = value < 0 ? 1 : 0;
    while (static_cast<unsigned>(end - first) + signWidth < digits) *--first = '0';
    if (value < 0) *--first = '-';
    std::memset(dst, ' ', width);
    const size_t room = width - spaces;
    const size_t length = static_cast<size_t>(end - first);
    std::memcpy(dst + spaces, first, length < room ? length : room);
}

int64_t ParseDecimalField(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that the int64 minimum fits.
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t acc = 0;
    bool overflow = false;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (acc < (kMin + digit) / 10) {
            overflow = true;
        } else {
            acc = acc * 10 - digit;
        }
    }
    if (overflow) return negative ? kMin : std::numeric_limits<int64_t>::max();
    if (negative) return acc;
    return acc == kMin ? std::numeric_limits<int64_t>::max() : -acc;
}
