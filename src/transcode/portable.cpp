// The portable kernel: the scalar loop and the scalar counts alone, plain
// C++ for every processor.
#define WEXAL_KERNEL portable
#include "target_begin.hpp"

#include "scalar.hpp"

transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
                                                const char* end) noexcept {
    return convert(out, room, begin, end, [](conversion<wide_char, char>&) {});
}

transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin,
                                                const wide_char* end) noexcept {
    return convert(out, room, begin, end, [](conversion<char, wide_char>&) {});
}

std::size_t utf8_to_utf16_length(const char* begin, const char* end) noexcept {
    return scalar_utf16_length(begin, end);
}

std::size_t utf16_to_utf8_length(const wide_char* begin, const wide_char* end, bool& surrogates) noexcept {
    surrogates = false;
    return scalar_utf8_length(begin, end, surrogates);
}

#include "target_end.hpp"
