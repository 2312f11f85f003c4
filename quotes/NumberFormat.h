#pragma once
// Fixed-width decimal text of DBF numeric fields. Every table write formats
// dozens of numbers per record, so these are written by hand instead of going
// through snprintf; each produces exactly the bytes that the printf format in
// its comment would, cut to the field's width (the text a trading system has
// always read from these tables, overflow included).
//
// Two forms: functions taking the width and decimals at run time, and inline
// templates with both fixed at compile time for the record formatter's hot
// path. They produce the same bytes.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The first `width` characters of "%<width>lld" of value: right-aligned,
// space-filled; a longer text keeps its leading characters.
void FormatIntField(char* dst, unsigned width, int64_t value);

// The first `width` characters of "%<width>.<decimals>f" of value / 10^decimals,
// the division done in double precision as a C program would. decimals above
// 18 are taken as 18.
void FormatFixedField(char* dst, unsigned width, unsigned decimals, int64_t scaled);

// The first `width` characters of `spaces` spaces followed by "%0<digits>lld"
// of value (zero-filled after the sign to at least `digits` characters); a
// text shorter than the field is followed by spaces.
void FormatZeroFilledField(char* dst, unsigned width, unsigned spaces, unsigned digits,
                           int64_t value);

// The number at the start of a fixed-width text field, read the way the C
// library's strtoll reads it, but never beyond `length` bytes: leading white
// space skipped, an optional sign, then digits up to the first other byte; 0
// when there is no digit; the int64 limits when the digits overflow.
int64_t ParseDecimalField(const char* text, size_t length);

namespace numfmt_detail {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr uint64_t kPow10[] = {1ULL,
                                      10ULL,
                                      100ULL,
                                      1000ULL,
                                      10000ULL,
                                      100000ULL,
                                      1000000ULL,
                                      10000000ULL,
                                      100000000ULL,
                                      1000000000ULL,
                                      10000000000ULL,
                                      100000000000ULL,
                                      1000000000000ULL,
                                      10000000000000ULL,
                                      100000000000000ULL,
                                      1000000000000000ULL,
                                      10000000000000000ULL,
                                      100000000000000000ULL,
                                      1000000000000000000ULL};
inline constexpr unsigned kMaxDecimals = 18;

// Below this magnitude value / 10^d in double precision is within half a unit
// of the last printed decimal of the exact quotient (the quotient's rounding
// error is at most |value| * 2^-53 units of 10^-d), so the exact decimal
// digits of the integer are what printf prints. Larger values take printf.
inline constexpr uint64_t kExactLimit = 1ULL << 52;

inline uint64_t Magnitude(int64_t v) {
    return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

inline void PutPair(char* at, unsigned value) {
    std::memcpy(at, &kDigitPairs[value * 2], 2);
}

// Writes the decimal digits of u so that they end just before `end`; returns
// the first digit. Writes at least one digit.
inline char* PutDigits(char* end, uint64_t u) {
    // Most numbers fit 32 bits, whose divisions are cheaper.
    while (u > 0xFFFFFFFFu) {
        end -= 2;
        PutPair(end, static_cast<unsigned>(u % 100));
        u /= 100;
    }
    uint32_t v = static_cast<uint32_t>(u);
    while (v >= 100) {
        end -= 2;
        PutPair(end, v % 100);
        v /= 100;
    }
    if (v >= 10) {
        end -= 2;
        PutPair(end, v);
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

// Writes exactly `count` digits of u (zero-filled on the left) ending before
// `end`; returns the first.
inline char* PutFixedDigits(char* end, uint64_t u, unsigned count) {
    char* first = end - count;
    while (count >= 2) {
        end -= 2;
        PutPair(end, static_cast<unsigned>(u % 100));
        u /= 100;
        count -= 2;
    }
    if (count == 1) *--end = static_cast<char>('0' + u % 10);
    return first;
}

// The out-of-line printf path for magnitudes beyond kExactLimit.
void FormatFixedWithPrintf(char* dst, unsigned width, unsigned decimals, int64_t scaled);

// Copies a text that ends at `end` into a field of Width: the Width bytes
// before `end` (spaces ahead of the text) when it fits, its first Width
// characters otherwise. The scratch buffer holds at least Width bytes before
// `end`, spaces where the text did not overwrite them.
template <unsigned Width>
inline void EmitFixed(char* dst, const char* first, const char* end) {
    if (static_cast<size_t>(end - first) <= Width) {
        std::memcpy(dst, end - Width, Width);
    } else {
        std::memcpy(dst, first, Width);
    }
}

// The eight decimal digits of n < 10^8 as byte values 0..9, the most
// significant in the lowest byte (first in memory on a little-endian host).
// Splits into two 4-digit lanes, then 2-digit, then 1-digit lanes; each
// division is a multiply and shift that is exact in its lane's range.
inline uint64_t EightDigits(uint32_t n) {
    const uint64_t merged = (n / 10000) | (static_cast<uint64_t>(n % 10000) << 32);
    const uint64_t div100 = ((merged * 10486) >> 20) & 0x0000007F0000007FULL;
    const uint64_t hundreds = ((merged - 100 * div100) << 16) + div100;
    const uint64_t div10 = ((hundreds * 103) >> 10) & 0x000F000F000F000FULL;
    return ((hundreds - 10 * div10) << 8) + div10;
}

// Leading zero digits of an EightDigits value (8 when it is 0).
inline unsigned LeadingZeroDigits(uint64_t digits) {
    return digits == 0 ? 8 : static_cast<unsigned>(std::countr_zero(digits)) / 8;
}

// ASCII of the digits with the first `blank` of them turned into spaces.
inline uint64_t DigitsToText(uint64_t digits, unsigned blank) {
    const uint64_t ascii = digits + 0x3030303030303030ULL;
    if (blank == 0) return ascii;
    const uint64_t mask = blank >= 8 ? ~0ULL : (1ULL << (8 * blank)) - 1;
    return (ascii & ~mask) | (0x2020202020202020ULL & mask);
}

// Stores the low `Bytes` bytes of a little-endian word.
template <unsigned Bytes>
inline void StoreLow(char* dst, uint64_t word) {
    static_assert(Bytes <= 8);
    std::memcpy(dst, &word, Bytes);
}

// A digit word with a point inserted before its last D digits: the first 8
// bytes of the result, and the digit pushed out past them.
template <unsigned D>
inline uint64_t WithPoint(uint64_t text, uint64_t* last) {
    static_assert(D >= 1 && D <= 7);
    constexpr unsigned kInt = 8 - D;  // integer digits in this word
    const uint64_t integer = text & ((1ULL << (8 * kInt)) - 1);
    const uint64_t fraction = text >> (8 * kInt);
    *last = text >> 56;
    if constexpr (D == 1) {
        return integer | (uint64_t{'.'} << (8 * kInt));  // the one decimal is `last`
    } else {
        return integer | (uint64_t{'.'} << (8 * kInt)) | (fraction << (8 * (kInt + 1)));
    }
}

// The fast path of both field formats for a magnitude below 10^16: the
// number pictured as Digits (8 or 16) digits with a point before the last
// Decimals, leading zeros blanked (one integer digit kept), the sign in
// front; the field is the last Width bytes of that picture. The picture is
// kept in registers and stored word by word. A text longer than a field of
// at most 8 bytes, from an 8-digit picture, is cut here too (its first Width
// characters). false, with nothing written, for a longer text otherwise
// (printf's cut then applies) or when the host is not little-endian.
template <unsigned Width, unsigned Decimals, unsigned Digits>
inline bool PutPictured(char* dst, uint64_t magnitude, bool negative) {
    static_assert(Digits == 8 || Digits == 16);
    static_assert(Width >= 1 && Decimals < 8, "a field, with the point in the last digit word");
    if constexpr (std::endian::native != std::endian::little) {
        return false;
    } else {
        constexpr unsigned kKeep = Digits - Decimals - 1;  // zeros that may be blanked
        uint64_t high = 0, low;  // ASCII digit words, high only with 16 digits
        unsigned zeros;
        if constexpr (Digits == 8) {
            low = EightDigits(static_cast<uint32_t>(magnitude));
            zeros = LeadingZeroDigits(low);
        } else {
            high = EightDigits(static_cast<uint32_t>(magnitude / 100000000));
            low = EightDigits(static_cast<uint32_t>(magnitude % 100000000));
            zeros = LeadingZeroDigits(high);
            if (zeros == 8) zeros += LeadingZeroDigits(low);
        }
        if (zeros > kKeep) zeros = kKeep;
        constexpr unsigned kPicture = Digits + (Decimals > 0 ? 1 : 0);
        const unsigned length = kPicture - zeros + (negative ? 1 : 0);
        constexpr bool kCutInWord = Digits == 8 && Width <= 8;
        if (!kCutInWord && length > Width) return false;
        if constexpr (Digits == 16) {
            high = DigitsToText(high, zeros < 8 ? zeros : 8);
            low = DigitsToText(low, zeros > 8 ? zeros - 8 : 0);
        } else {
            low = DigitsToText(low, zeros);
        }
        // The picture as words: [high] body [tail byte].
        uint64_t tail = 0;
        uint64_t body = low;
        if constexpr (Decimals > 0) body = WithPoint<Decimals>(low, &tail);
        constexpr unsigned kTail = Decimals > 0 ? 1 : 0;
        constexpr unsigned kHigh = Digits == 16 ? 8 : 0;
        if constexpr (kCutInWord) {
            if (length > Width) {
                // The text starts `start` bytes into the picture, where a
                // minus sign takes the last blank; without a blank the sign
                // stands one byte ahead of the picture.
                uint64_t word;
                if (length <= kPicture) {
                    const unsigned start = kPicture - length;  // at most 7: length > Width >= 1
                    word = start == 0 ? body : (body >> (8 * start)) | (tail << (64 - 8 * start));
                    if (negative) word = (word & ~uint64_t{0xFF}) | '-';
                } else {
                    word = (body << 8) | '-';
                }
                StoreLow<Width>(dst, word);
                return true;
            }
        }
        if constexpr (Width >= kPicture) {
            char* at = dst + (Width - kPicture);
            std::memset(dst, ' ', Width - kPicture);
            if constexpr (kHigh > 0) StoreLow<8>(at, high);
            StoreLow<8>(at + kHigh, body);
            if constexpr (kTail > 0) at[kHigh + 8] = static_cast<char>(tail);
        } else {
            // Only the last Width bytes of the picture; the bytes cut off are
            // blanked zeros (the text fits), so nothing of the number is lost.
            constexpr unsigned kSkip = kPicture - Width;
            if constexpr (kHigh > 0) {
                static_assert(kSkip < 8, "a 16-digit text never fits fewer than 9 bytes");
                StoreLow<8 - kSkip>(dst, high >> (8 * kSkip));
                StoreLow<8>(dst + 8 - kSkip, body);
                if constexpr (kTail > 0) dst[16 - kSkip] = static_cast<char>(tail);
            } else if constexpr (kTail > 0 && kSkip < 8) {
                // kSkip is at least 1: shift the tail byte into the word.
                StoreLow<Width>(dst, (body >> (8 * kSkip)) | (tail << (8 * (8 - kSkip))));
            } else if constexpr (kTail > 0) {
                StoreLow<Width>(dst, tail);  // a one-character field: the last decimal
            } else {
                StoreLow<Width>(dst, body >> (8 * kSkip));
            }
        }
        if (negative) dst[Width - length] = '-';
        return true;
    }
}

}  // namespace numfmt_detail

// FormatIntField with the width fixed at compile time.
template <unsigned Width>
inline void FormatIntFieldN(char* dst, int64_t value) {
    using namespace numfmt_detail;
    const uint64_t magnitude = Magnitude(value);
    if (magnitude < 100000000) {
        if (PutPictured<Width, 0, 8>(dst, magnitude, value < 0)) return;
    } else if constexpr (Width >= 9) {
        if (magnitude < 10000000000000000ULL &&
            PutPictured<Width, 0, 16>(dst, magnitude, value < 0)) {
            return;
        }
    }
    char text[Width + 24];
    char* end = text + sizeof text;
    std::memset(end - Width, ' ', Width);
    char* first = PutDigits(end, magnitude);
    if (value < 0) *--first = '-';
    EmitFixed<Width>(dst, first, end);
}

// FormatFixedField with the width and decimals fixed at compile time.
template <unsigned Width, unsigned Decimals>
inline void FormatFixedFieldN(char* dst, int64_t scaled) {
    using namespace numfmt_detail;
    static_assert(Decimals <= kMaxDecimals);
    const uint64_t magnitude = Magnitude(scaled);
    if (magnitude >= kExactLimit) [[unlikely]] {
        FormatFixedWithPrintf(dst, Width, Decimals, scaled);
        return;
    }
    if constexpr (Decimals < 8) {
        if (magnitude < 100000000) {
            if (PutPictured<Width, Decimals, 8>(dst, magnitude, scaled < 0)) return;
        } else if constexpr (Width >= 10) {
            // Nine digits and a point at least; kExactLimit < 10^16.
            if (PutPictured<Width, Decimals, 16>(dst, magnitude, scaled < 0)) return;
        }
    }
    char text[Width + 24 + Decimals];
    char* end = text + sizeof text;
    std::memset(end - Width, ' ', Width);
    char* first;
    if constexpr (Decimals == 0) {
        first = PutDigits(end, magnitude);
    } else {
        constexpr uint64_t unit = kPow10[Decimals];
        first = PutFixedDigits(end, magnitude % unit, Decimals);
        *--first = '.';
        first = PutDigits(first, magnitude / unit);
    }
    if (scaled < 0) *--first = '-';
    EmitFixed<Width>(dst, first, end);
}
