// The AVX-512 kernel (BW, VL and VBMI2: AMD Zen 4 and later, Intel Ice Lake
// and later): the whole conversion built for AVX-512, with mixed blocks whose
// units and bytes one compress instruction gathers (after Clausecker and
// Lemire's AVX-512 transcoding). The target region opens before the loops are included, so every
// loop and helper is built for it; the kernel runs only where the processor
// and the system (which must save the ZMM state) support it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <immintrin.h>
#endif

#include "kernels.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi2"))), \
                             apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi2")
#endif

namespace wexal {
namespace u8port {
namespace detail {
namespace avx512 {

#define WEXAL_TRANSCODE_SSE2 1
#include "loops.inl"

struct kernel_blocks {
    // As sse2_blocks::utf8: the units of the lanes to keep, compressed to
    // the front of one 16-unit store (up to 8 after the result are left over,
    // which the loops' margins cover).
    static unsigned utf8(const unsigned char* p, wide_char* out, unsigned& produced) noexcept {
        utf8_block block;
        if (!decode_utf8_block(p, block)) return 0;
        const __mmask16 keep = static_cast<__mmask16>(_mm_movemask_epi8(block.keep));
        const __m256i units = _mm256_inserti128_si256(_mm256_castsi128_si256(block.low), block.high, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_maskz_compress_epi16(keep, units));
        produced = static_cast<unsigned>(_mm_popcnt_u32(keep));
        return block.consumed;
    }

    // As sse2_blocks::utf16: each unit's bytes in a 32-bit lane (a high
    // surrogate the pair's four, its low one none), the first width bytes
    // of every lane compressed to the front of one 32-byte store (up to 24
    // after the result are left over).
    static unsigned utf16(const wide_char* p, char* out, unsigned& produced) noexcept {
        utf16_block block;
        if (!decode_utf16_block(p, block)) return 0;
        const __m256i words = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_unpacklo_epi16(block.first, block.second)),
            _mm_unpackhi_epi16(block.first, block.second), 1);
        // Every byte of a lane against the lane's width.
        const __m256i width = _mm256_shuffle_epi8(
            _mm256_cvtepu16_epi32(block.width), _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0,
                                                                 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12));
        const __mmask32 keep = _mm256_cmpgt_epi8_mask(
            width, _mm256_setr_epi8(0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3,
                                    0, 1, 2, 3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_maskz_compress_epi8(keep, words));
        produced = static_cast<unsigned>(_mm_popcnt_u32(keep));
        return 8 + (block.highs >> 7);
    }
};

// The entry points, one file per direction: each runs 64-byte steps of
// its own where the input allows and hands what they leave to the loops.
#include "avx512_to_utf16.inl"
#include "avx512_to_utf8.inl"
#undef WEXAL_TRANSCODE_SSE2

}  // namespace avx512
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif
