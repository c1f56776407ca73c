// The AVX-512 kernel's conversion from UTF-8 and its count, included by
// avx512.cpp inside its target region and namespace.

transcode_result<wide_char, char> to_utf16(wide_char* out, std::size_t room, const char* begin,
                                           const char* end) noexcept {
    return utf8_to_utf16<kernel_blocks>(out, room, begin, end);
}

std::size_t utf16_length(const char* begin, const char* end) noexcept { return utf16_length_of(begin, end); }
