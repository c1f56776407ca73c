// The AVX-512 kernel's conversion from UTF-16 and its count, included by
// avx512.cpp inside its target region and namespace.

transcode_result<char, wide_char> to_utf8(char* out, std::size_t room, const wide_char* begin,
                                          const wide_char* end) noexcept {
    return utf16_to_utf8<kernel_blocks>(out, room, begin, end);
}

std::size_t utf8_length(const wide_char* begin, const wide_char* end, bool& surrogates) noexcept {
    return utf8_length_of(begin, end, surrogates);
}
