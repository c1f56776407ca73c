// Whole-range conversion between UTF-8 and UTF-16: into a buffer of fixed
// capacity (transcode_into), counted (transcode), and the size a conversion
// needs (transcoded_length).
//
// For the UTF-8/UTF-16 pairs these are functions of the library, which
// converts with the fastest kernel the processor runs; the results are those
// of the plain loop below, unit for unit, capacity behaviour included. Other
// pairs (UTF-8 to UTF-8, UTF-16 to UTF-16, which replace what is malformed)
// run that plain loop here.
#ifndef WEXAL_U8PORT_TRANSCODE_HPP
#define WEXAL_U8PORT_TRANSCODE_HPP

#include <cstddef>

#include <wexal/u8port/config.hpp>
#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {

// What a counted conversion did: out is the end of what it wrote, in the
// input position it reached (the start of the first code point that did not
// fit, or end), complete whether all of the input was converted.
template <typename Out, typename In>
struct transcode_result {
    Out* out;
    const In* in;
    bool complete;
};

namespace detail {

// The plain loop: one decode, one width test and one encode per code point.
// Converts [begin, end) into out, which has room for room units; writes no
// terminator and nothing past the units it returns. Stops before the first
// code point that does not fit.
template <typename Out, typename In>
transcode_result<Out, In> transcode_plain(Out* out, std::size_t room, const In* begin, const In* end) noexcept {
    using out_codec = codec_for_t<Out>;
    while (begin != end) {
        const In* const start = begin;
        const code_point c = decode_or_replace<codec_for_t<In>>(begin, end);
        const std::size_t w = static_cast<std::size_t>(out_codec::width(c));
        if (room < w) return {out, start, false};
        out = out_codec::encode(c, out);
        room -= w;
    }
    return {out, end, true};
}

}  // namespace detail

// Converts [begin, end) into out, which has room for capacity units, picking
// each codec from the unit type (char: UTF-8, wide_char: UTF-16). Each
// rejected sequence becomes one U+FFFD. Writes no terminator and nothing past
// the result's end; stops before the first code point that does not fit, so
// the output never ends inside a multi-unit code point. The units are those
// that transcode_into writes before its terminator given capacity + 1.
template <typename Out, typename In>
transcode_result<Out, In> transcode(Out* out, std::size_t capacity, const In* begin, const In* end) noexcept {
    return detail::transcode_plain(out, capacity, begin, end);
}

// Converts [begin, end) into out, which has room for capacity units including
// the terminator, picking each codec from the unit type (char: UTF-8,
// wide_char: UTF-16). Each rejected sequence becomes one U+FFFD. Returns out
// when everything fitted; otherwise null, with out holding the NUL-terminated
// prefix that fitted (never ending inside a multi-unit code point). Capacity 0
// writes nothing and returns null.
template <typename Out, typename In>
Out* transcode_into(Out* out, std::size_t capacity, const In* begin, const In* end) noexcept {
    if (capacity == 0) return nullptr;
    const transcode_result<Out, In> r = transcode(out, capacity - 1, begin, end);
    *r.out = Out(0);
    return r.complete ? out : nullptr;
}

// The number of units transcode writes for the whole of [begin, end): the
// exact size of a buffer for it (transcode_into needs one more).
template <typename Out, typename In>
std::size_t transcoded_length(const In* begin, const In* end) noexcept {
    // A stretch at a time through a small buffer; each stretch stops at a
    // code point, so the stretches add up to the whole.
    constexpr std::size_t scratch_size = 4096 / sizeof(Out);
    Out scratch[scratch_size];
    std::size_t length = 0;
    for (;;) {
        const transcode_result<Out, In> r = transcode(scratch, scratch_size, begin, end);
        length += static_cast<std::size_t>(r.out - scratch);
        if (r.complete) return length;
        begin = r.in;
    }
}

// The UTF-8/UTF-16 pairs: in the library.
template <>
WEXAL_U8PORT_API transcode_result<wide_char, char> transcode<wide_char, char>(wide_char* out, std::size_t capacity,
                                                                              const char* begin,
                                                                              const char* end) noexcept;
template <>
WEXAL_U8PORT_API transcode_result<char, wide_char> transcode<char, wide_char>(char* out, std::size_t capacity,
                                                                              const wide_char* begin,
                                                                              const wide_char* end) noexcept;
template <>
WEXAL_U8PORT_API wide_char* transcode_into<wide_char, char>(wide_char* out, std::size_t capacity, const char* begin,
                                                            const char* end) noexcept;
template <>
WEXAL_U8PORT_API char* transcode_into<char, wide_char>(char* out, std::size_t capacity, const wide_char* begin,
                                                       const wide_char* end) noexcept;
template <>
WEXAL_U8PORT_API std::size_t transcoded_length<wide_char, char>(const char* begin, const char* end) noexcept;
template <>
WEXAL_U8PORT_API std::size_t transcoded_length<char, wide_char>(const wide_char* begin, const wide_char* end) noexcept;

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_TRANSCODE_HPP
