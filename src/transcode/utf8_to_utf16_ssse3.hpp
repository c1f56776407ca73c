// The SSSE3 steps from UTF-8 to UTF-16: the SSE2 steps with mixed blocks
// whose units one byte shuffle per half gathers, where SSE2 stores them one
// by one. The AVX2 kernel builds on them.
//
// No include guard: included once per kernel file, inside its namespace,
// after utf8_to_utf16_sse2.hpp.

struct ssse3_utf8_steps : sse2_utf8_steps {
    // As utf8_mixed_block; the stores reach 16 units, of which up to 8 after
    // the result are left over (the margins cover them).
    static unsigned mixed(const unsigned char* p, wide_char* out, unsigned& produced) noexcept {
        utf8_block block;
        if (!decode_utf8_block(p, block)) return 0;
        const unsigned keep = static_cast<unsigned>(_mm_movemask_epi8(block.keep));
        const unsigned low_keep = keep & 0xFFu;
        const unsigned high_keep = keep >> 8;
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out),
            _mm_shuffle_epi8(block.low,
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(unit_gather.control[low_keep]))));
        const unsigned low_count = unit_gather.count[low_keep];
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + low_count),
            _mm_shuffle_epi8(block.high,
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(unit_gather.control[high_keep]))));
        produced = low_count + unit_gather.count[high_keep];
        return block.consumed;
    }
};
