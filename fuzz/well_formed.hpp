// Strict validators for UTF-8 and UTF-16, written from the table of
// well-formed byte sequences rather than from the codecs' decoders, so that
// the fuzz targets can judge the codecs' output with an independent rule.
#ifndef WEXAL_FUZZ_WELL_FORMED_HPP
#define WEXAL_FUZZ_WELL_FORMED_HPP

#include <cstddef>
#include <cstdint>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace fuzz {

// Length of the well-formed UTF-8 character at p, or 0 when the bytes at p
// (up to end) do not begin one.
//
//   first byte   second byte   further bytes
//   00..7F       -             -
//   C2..DF       80..BF        -
//   E0           A0..BF        80..BF
//   E1..EC       80..BF        80..BF
//   ED           80..9F        80..BF
//   EE..EF       80..BF        80..BF
//   F0           90..BF        80..BF 80..BF
//   F1..F3       80..BF        80..BF 80..BF
//   F4           80..8F        80..BF 80..BF
inline std::size_t well_formed_utf8_length(const char* p, const char* end) noexcept {
    if (p == end) return 0;
    const auto at = [p](std::size_t i) { return static_cast<unsigned char>(p[i]); };
    const unsigned char b0 = at(0);
    if (b0 <= 0x7F) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length) return 0;
    if (at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xBF) return 0;
    }
    return length;
}

inline bool is_well_formed_utf8(const char* p, const char* end) noexcept {
    while (p != end) {
        const std::size_t n = well_formed_utf8_length(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
}

inline bool is_lead_surrogate(std::uint16_t u) noexcept { return u >= 0xD800 && u <= 0xDBFF; }
inline bool is_trail_surrogate(std::uint16_t u) noexcept { return u >= 0xDC00 && u <= 0xDFFF; }

// Length of the well-formed UTF-16 character at p (1 or 2), or 0 for an
// unpaired surrogate.
inline std::size_t well_formed_utf16_length(const u8port::wide_char* p, const u8port::wide_char* end) noexcept {
    if (p == end) return 0;
    const auto u = static_cast<std::uint16_t>(*p);
    if (!is_lead_surrogate(u) && !is_trail_surrogate(u)) return 1;
    if (is_trail_surrogate(u) || end - p < 2) return 0;
    return is_trail_surrogate(static_cast<std::uint16_t>(p[1])) ? 2 : 0;
}

inline bool is_well_formed_utf16(const u8port::wide_char* p, const u8port::wide_char* end) noexcept {
    while (p != end) {
        const std::size_t n = well_formed_utf16_length(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
}

}  // namespace fuzz
}  // namespace wexal

#endif  // WEXAL_FUZZ_WELL_FORMED_HPP
