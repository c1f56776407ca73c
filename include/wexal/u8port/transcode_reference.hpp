// The plain whole-range converter, terminated and counted: one decode, one
// width test and one encode per code point, exactly as the codecs define
// them. transcode_into and transcode must produce the same units, capacity
// behaviour included; tests, fuzzers and benchmarks compare them with it.
#ifndef WEXAL_U8PORT_TRANSCODE_REFERENCE_HPP
#define WEXAL_U8PORT_TRANSCODE_REFERENCE_HPP

#include <cstddef>

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

// Converts [begin, end) into out, which has room for room units; writes no
// terminator and nothing past the units it returns. Each rejected sequence
// becomes one U+FFFD. Stops before the first code point that does not fit.
template <typename InCodec, typename OutCodec, typename Out, typename In>
transcode_result<Out, In> transcode_counted_with(Out* out, std::size_t room, const In* begin, const In* end) noexcept {
    while (begin != end) {
        const In* const start = begin;
        const code_point c = decode_or_replace<InCodec>(begin, end);
        const std::size_t w = static_cast<std::size_t>(OutCodec::width(c));
        if (room < w) return {out, start, false};
        out = OutCodec::encode(c, out);
        room -= w;
    }
    return {out, end, true};
}

// Converts [begin, end) into out, which has room for capacity units including
// the terminator. Each rejected sequence becomes one U+FFFD. Returns out when
// everything fitted; otherwise null, with out holding the NUL-terminated
// prefix that fitted (never ending inside a multi-unit code point). Capacity 0
// writes nothing and returns null. Nothing is written after the terminator.
template <typename InCodec, typename OutCodec, typename Out, typename In>
Out* transcode_with(Out* out, std::size_t capacity, const In* begin, const In* end) noexcept {
    if (capacity == 0) return nullptr;
    const transcode_result<Out, In> r = transcode_counted_with<InCodec, OutCodec>(out, capacity - 1, begin, end);
    *r.out = Out(0);
    return r.complete ? out : nullptr;
}

// transcode_with with the codecs picked from the unit types.
template <typename Out, typename In>
Out* transcode_reference(Out* out, std::size_t capacity, const In* begin, const In* end) noexcept {
    return transcode_with<codec_for_t<In>, codec_for_t<Out>>(out, capacity, begin, end);
}

// transcode_counted_with with the codecs picked from the unit types.
template <typename Out, typename In>
transcode_result<Out, In> transcode_counted_reference(Out* out, std::size_t room, const In* begin,
                                                      const In* end) noexcept {
    return transcode_counted_with<codec_for_t<In>, codec_for_t<Out>>(out, room, begin, end);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_TRANSCODE_REFERENCE_HPP
