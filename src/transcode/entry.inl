// The entry points of a kernel (see kernels.hpp), included by its file after
// loops.inl, with kernel_blocks naming its mixed blocks.

transcode_result<wide_char, char> to_utf16(wide_char* out, std::size_t room, const char* begin,
                                           const char* end) noexcept {
    return utf8_to_utf16<kernel_blocks>(out, room, begin, end);
}

transcode_result<char, wide_char> to_utf8(char* out, std::size_t room, const wide_char* begin,
                                          const wide_char* end) noexcept {
    return utf16_to_utf8<kernel_blocks>(out, room, begin, end);
}

std::size_t utf16_length(const char* begin, const char* end) noexcept { return utf16_length_of(begin, end); }

std::size_t utf8_length(const wide_char* begin, const wide_char* end, bool& surrogates) noexcept {
    return utf8_length_of(begin, end, surrogates);
}
