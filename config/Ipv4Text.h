#pragma once
// IPv4 addresses as the configuration holds them: a 32-bit value in network
// byte order (the first octet in the lowest memory byte), written in dotted
// form. Reading accepts what the classic address parser accepts (one to four
// parts, each decimal, octal with a leading 0 or hexadecimal with 0x), so a
// file edited by hand reads as it always did.
#include <cstdint>
#include <string>
#include <string_view>

// The "invalid address": what an empty or malformed text reads as, and also
// the value of 255.255.255.255.
constexpr uint32_t kInvalidAddr = 0xFFFFFFFFu;

// The address of a text, or kInvalidAddr.
uint32_t ParseIpv4(std::string_view text);
// The address in dotted-decimal form.
std::string FormatIpv4(uint32_t networkOrder);
// The network-order value of a.b.c.d.
uint32_t Ipv4FromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
