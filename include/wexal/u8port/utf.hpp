// UTF-8 and UTF-16 code-point codecs.
//
// Both codecs offer the same operations on single code points: decode one
// from a cursor, encode one at an output cursor, and tell its width in code
// units. They never fail and never throw: malformed input comes back from
// decode as one of two sentinels, and the caller decides what to do with it
// (whole-string conversion substitutes U+FFFD; the console buffers wait for
// more input on truncated_input).
//
// Error handling never swallows well-formed text: the unit that breaks off a
// sequence is left unconsumed and begins the next one. A complete sequence
// that is overlong, a surrogate or above U+10FFFF is consumed whole as one
// invalid_input. Every decode on a non-empty range consumes at least one unit.
#ifndef WEXAL_U8PORT_UTF_HPP
#define WEXAL_U8PORT_UTF_HPP

#include <cstdint>
#include <type_traits>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {

using code_point = std::uint32_t;

// The units consumed do not form a well-formed sequence.
constexpr code_point invalid_input = 0xFFFFFFFFu;
// The input ended before the sequence was complete (also: an empty input).
constexpr code_point truncated_input = 0xFFFFFFFEu;
// U+FFFD REPLACEMENT CHARACTER.
constexpr code_point replacement_code_point = 0xFFFDu;

class utf8_codec {
public:
    using unit_type = char;
    static constexpr int max_width = 4;

    static constexpr bool is_valid_code_point(code_point c) noexcept {
        return c <= 0x10FFFFu && (c < 0xD800u || c > 0xDFFFu);
    }

    // Number of continuation bytes after a lead byte, or -1 for a byte that
    // cannot begin a sequence (continuation bytes, C0, C1, F5..FF).
    static constexpr int trail_count(unsigned char b) noexcept {
        if (b < 0x80) return 0;
        if (b < 0xC2) return -1;
        if (b < 0xE0) return 1;
        if (b < 0xF0) return 2;
        if (b <= 0xF4) return 3;
        return -1;
    }

    static constexpr bool is_continuation(unsigned char b) noexcept { return (b & 0xC0u) == 0x80u; }

    static constexpr int width(code_point c) noexcept {
        return c <= 0x7Fu ? 1 : c <= 0x7FFu ? 2 : c <= 0xFFFFu ? 3 : 4;
    }

    template <typename Iterator>
    static code_point decode(Iterator& cursor, Iterator end) noexcept {
        if (cursor == end) return truncated_input;
        const unsigned char b0 = static_cast<unsigned char>(*cursor);
        ++cursor;
        const int t = trail_count(b0);
        if (t < 0) return invalid_input;
        if (t == 0) return b0;
        code_point value = b0 & ((1u << (6 - t)) - 1u);
        for (int i = 0; i < t; ++i) {
            if (cursor == end) return truncated_input;
            const unsigned char b = static_cast<unsigned char>(*cursor);
            // Leave a byte that is not a continuation where it is: it begins
            // the next sequence.
            if (!is_continuation(b)) return invalid_input;
            ++cursor;
            value = (value << 6) | (b & 0x3Fu);
        }
        if (!is_valid_code_point(value)) return invalid_input;
        if (width(value) != t + 1) return invalid_input;  // overlong
        return value;
    }

    // Writes exactly width(c) bytes; the caller guarantees the space.
    template <typename Iterator>
    static Iterator encode(code_point c, Iterator out) noexcept {
        using value_type = typename std::remove_reference<decltype(*out)>::type;
        if (c <= 0x7Fu) {
            *out++ = static_cast<value_type>(c);
        } else if (c <= 0x7FFu) {
            *out++ = static_cast<value_type>(0xC0u | (c >> 6));
            *out++ = static_cast<value_type>(0x80u | (c & 0x3Fu));
        } else if (c <= 0xFFFFu) {
            *out++ = static_cast<value_type>(0xE0u | (c >> 12));
            *out++ = static_cast<value_type>(0x80u | ((c >> 6) & 0x3Fu));
            *out++ = static_cast<value_type>(0x80u | (c & 0x3Fu));
        } else {
            *out++ = static_cast<value_type>(0xF0u | (c >> 18));
            *out++ = static_cast<value_type>(0x80u | ((c >> 12) & 0x3Fu));
            *out++ = static_cast<value_type>(0x80u | ((c >> 6) & 0x3Fu));
            *out++ = static_cast<value_type>(0x80u | (c & 0x3Fu));
        }
        return out;
    }
};

class utf16_codec {
public:
    using unit_type = wide_char;
    static constexpr int max_width = 2;

    static constexpr bool is_valid_code_point(code_point c) noexcept { return utf8_codec::is_valid_code_point(c); }

    static constexpr code_point join_surrogates(code_point lead, code_point trail) noexcept {
        return (((lead & 0x3FFu) << 10) | (trail & 0x3FFu)) + 0x10000u;
    }

    static constexpr int width(code_point c) noexcept { return c < 0x10000u ? 1 : 2; }

    template <typename Iterator>
    static code_point decode(Iterator& cursor, Iterator end) noexcept {
        if (cursor == end) return truncated_input;
        const code_point u1 = static_cast<std::uint16_t>(*cursor);
        ++cursor;
        if (u1 < 0xD800u || u1 > 0xDFFFu) return u1;
        if (u1 > 0xDBFFu) return invalid_input;  // trail surrogate with no lead
        if (cursor == end) return truncated_input;
        const code_point u2 = static_cast<std::uint16_t>(*cursor);
        // A unit that is not a trail surrogate stays unconsumed.
        if (u2 < 0xDC00u || u2 > 0xDFFFu) return invalid_input;
        ++cursor;
        return join_surrogates(u1, u2);
    }

    template <typename Iterator>
    static Iterator encode(code_point c, Iterator out) noexcept {
        using value_type = typename std::remove_reference<decltype(*out)>::type;
        if (c <= 0xFFFFu) {
            *out++ = static_cast<value_type>(c);
        } else {
            const code_point v = c - 0x10000u;
            *out++ = static_cast<value_type>(0xD800u | (v >> 10));
            *out++ = static_cast<value_type>(0xDC00u | (v & 0x3FFu));
        }
        return out;
    }
};

namespace detail {

// The codec of a code-unit type: 8-bit units are UTF-8, 16-bit units UTF-16.
template <typename Unit>
struct codec_for;
template <>
struct codec_for<char> {
    using type = utf8_codec;
};
template <>
struct codec_for<wide_char> {
    using type = utf16_codec;
};

}  // namespace detail

template <typename Unit>
using codec_for_t = typename detail::codec_for<Unit>::type;

// One code point from [p, end) with each rejected sequence (a cut one at the
// end included) as U+FFFD: the replacement step of every conversion.
template <typename Codec, typename Iterator>
constexpr code_point decode_or_replace(Iterator& p, Iterator end) noexcept {
    const code_point c = Codec::decode(p, end);
    return c == invalid_input || c == truncated_input ? replacement_code_point : c;
}

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_UTF_HPP
