// The test oracle: the plainest whole-range converter, terminated and
// counted, one decode, one width test and one encode per code point, exactly
// as the codecs define them. The library's transcode_into and transcode must
// produce the same units, capacity behaviour included; the tests, fuzzers
// and benchmarks compare them with it.
#ifndef WEXAL_TEST_TRANSCODE_REFERENCE_HPP
#define WEXAL_TEST_TRANSCODE_REFERENCE_HPP

#include <cstddef>

#include <wexal/u8port/transcode.hpp>
#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// Converts [begin, end) into out, which has room for room units; writes no
// terminator and nothing past the units it returns. Each rejected sequence
// becomes one U+FFFD. Stops before the first code point that does not fit.
template <typename Out, typename In>
transcode_result<Out, In> transcode_counted_reference(Out* out, std::size_t room, const In* begin,
                                                      const In* end) noexcept {
    while (begin != end) {
        const In* const start = begin;
        code_point c = codec_for_t<In>::decode(begin, end);
        if (c == invalid_input || c == truncated_input) c = replacement_code_point;
        const std::size_t w = static_cast<std::size_t>(codec_for_t<Out>::width(c));
        if (room < w) return {out, start, false};
        out = codec_for_t<Out>::encode(c, out);
        room -= w;
    }
    return {out, end, true};
}

// Converts [begin, end) into out, which has room for capacity units including
// the terminator. Returns out when everything fitted; otherwise null, with
// out holding the NUL-terminated prefix that fitted. Capacity 0 writes
// nothing and returns null.
template <typename Out, typename In>
Out* transcode_reference(Out* out, std::size_t capacity, const In* begin, const In* end) noexcept {
    if (capacity == 0) return nullptr;
    const transcode_result<Out, In> r = transcode_counted_reference(out, capacity - 1, begin, end);
    *r.out = Out(0);
    return r.complete ? out : nullptr;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_TEST_TRANSCODE_REFERENCE_HPP
