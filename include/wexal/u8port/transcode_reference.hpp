// The plain whole-range converter: one decode, one width test and one encode
// per code point, exactly as the codecs define them. transcode_into must
// produce the same units, capacity behaviour included; tests, fuzzers and
// benchmarks compare it with this one.
#ifndef WEXAL_U8PORT_TRANSCODE_REFERENCE_HPP
#define WEXAL_U8PORT_TRANSCODE_REFERENCE_HPP

#include <cstddef>

#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// Converts [begin, end) into out, which has room for capacity units including
// the terminator. Each rejected sequence becomes one U+FFFD. Returns out when
// everything fitted; otherwise null, with out holding the NUL-terminated
// prefix that fitted (never ending inside a multi-unit code point). Capacity 0
// writes nothing and returns null. Nothing is written after the terminator.
template <typename InCodec, typename OutCodec, typename Out, typename In>
Out* transcode_with(Out* out, std::size_t capacity, const In* begin, const In* end) noexcept {
    if (capacity == 0) return nullptr;
    std::size_t remaining = capacity - 1;
    Out* result = out;
    while (begin != end) {
        code_point c = InCodec::decode(begin, end);
        if (c == invalid_input || c == truncated_input) c = replacement_code_point;
        const std::size_t w = static_cast<std::size_t>(OutCodec::width(c));
        if (remaining < w) {
            result = nullptr;
            break;
        }
        out = OutCodec::encode(c, out);
        remaining -= w;
    }
    *out = Out(0);
    return result;
}

// transcode_with with the codecs picked from the unit types.
template <typename Out, typename In>
Out* transcode_reference(Out* out, std::size_t capacity, const In* begin, const In* end) noexcept {
    return transcode_with<codec_for_t<In>, codec_for_t<Out>>(out, capacity, begin, end);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_TRANSCODE_REFERENCE_HPP
