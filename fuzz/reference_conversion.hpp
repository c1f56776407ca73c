// The plainest possible whole-range conversion: one code point at a time
// through the codecs, each rejected sequence replaced by U+FFFD, into a
// growing vector. The fuzz targets hold transcode_into, its fast paths and
// the stack strings to it, and use the recorded code-point boundaries to
// predict where a conversion into a small buffer has to stop.
#ifndef WEXAL_FUZZ_REFERENCE_CONVERSION_HPP
#define WEXAL_FUZZ_REFERENCE_CONVERSION_HPP

#include <cstddef>
#include <vector>

#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace fuzz {

template <typename Out>
struct reference_result {
    std::vector<Out> units;
    // Output length after each code point: ends[i] units hold the first i + 1.
    std::vector<std::size_t> ends;

    // The longest prefix of whole code points that fits in n units.
    std::size_t whole_prefix_within(std::size_t n) const noexcept {
        std::size_t length = 0;
        for (std::size_t end : ends) {
            if (end > n) break;
            length = end;
        }
        return length;
    }
};

template <typename Out, typename In>
reference_result<Out> reference_convert(const In* begin, const In* end) {
    using in_codec = u8port::codec_for_t<In>;
    using out_codec = u8port::codec_for_t<Out>;
    reference_result<Out> result;
    while (begin != end) {
        u8port::code_point c = in_codec::decode(begin, end);
        if (c == u8port::invalid_input || c == u8port::truncated_input) c = u8port::replacement_code_point;
        Out encoded[out_codec::max_width];
        Out* const encoded_end = out_codec::encode(c, encoded);
        result.units.insert(result.units.end(), encoded, encoded_end);
        result.ends.push_back(result.units.size());
    }
    return result;
}

}  // namespace fuzz
}  // namespace wexal

#endif  // WEXAL_FUZZ_REFERENCE_CONVERSION_HPP
