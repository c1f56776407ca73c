// The SSSE3 steps from UTF-16 to UTF-8: the SSE2 steps with mixed blocks
// whose bytes one byte shuffle per half gathers, where SSE2 stores them four
// at a time. The AVX2 kernel builds on them.
//
// No include guard: included once per kernel file, inside its namespace,
// after utf16_to_utf8_sse2.hpp.

struct ssse3_utf16_steps : sse2_utf16_steps {
    // As utf16_mixed_block, but a pair cut by the block's end waits for the
    // next block (7 units consumed); the stores reach 28 bytes, of which up to
    // 16 after the result are left over.
    static unsigned mixed(const wide_char* p, char* out, unsigned& produced) noexcept {
        utf16_block block;
        if (!decode_utf16_block(p, block)) return 0;
        // A pair's four bytes go two in the high surrogate's lane and two in
        // the low one's.
        const __m128i surrogate = _mm_or_si128(block.high, block.low);
        const __m128i first = _mm_or_si128(_mm_and_si128(block.low, _mm_slli_si128(block.second, 2)),
                                           _mm_andnot_si128(block.low, block.first));
        __m128i width = _mm_or_si128(_mm_and_si128(surrogate, _mm_set1_epi16(2)),
                                     _mm_andnot_si128(surrogate, block.width));
        const unsigned cut = block.highs >> 7;
        width = _mm_andnot_si128(_mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(cut * 0xFFFFu)), 14), width);
        // Two bits of width per lane, four lanes to a key.
        const __m128i sums = _mm_madd_epi16(width, _mm_setr_epi16(1, 4, 16, 64, 1, 4, 16, 64));
        const __m128i keys = _mm_add_epi32(sums, _mm_srli_epi64(sums, 32));
        const unsigned low_key = static_cast<unsigned>(_mm_cvtsi128_si32(keys));
        const unsigned high_key = static_cast<unsigned>(_mm_extract_epi16(keys, 4));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out),
            _mm_shuffle_epi8(_mm_unpacklo_epi16(first, block.second),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(word_gather.control[low_key]))));
        const unsigned low_count = word_gather.count[low_key];
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + low_count),
            _mm_shuffle_epi8(_mm_unpackhi_epi16(first, block.second),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(word_gather.control[high_key]))));
        produced = low_count + word_gather.count[high_key];
        return 8 - cut;
    }
};
