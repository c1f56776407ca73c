// The count of UTF-16 units for UTF-8 in the SSE2 kernel (which the SSSE3
// and AVX2 kernels use too).
#define WEXAL_KERNEL sse2
#define WEXAL_KERNEL_TARGET "sse2"
#include "target_begin.hpp"

#include "scalar.hpp"

// UTF-16 units for UTF-8 bytes. Blocks of 16 bytes that are well-formed UTF-8
// (sequences may run into the next block) are counted in one go: one unit
// per byte that is not a continuation, one more per four-byte lead. Anything
// else, and the last bytes, go through the codec one sequence at a time, as
// the conversion does.
std::size_t utf8_to_utf16_length(const char* begin, const char* end) noexcept {
    const auto at_least = [](__m128i x, int bound) {  // unsigned x >= bound, per byte
        return _mm_cmpeq_epi8(_mm_max_epu8(x, _mm_set1_epi8(static_cast<char>(bound))), x);
    };
    const auto load = [](const char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    const __m128i zero = _mm_setzero_si128();
    const char* p = begin;
    std::size_t length = 0;
    __m128i totals = zero;     // two 64-bit sums
    bool after_block = false;  // p ends a block counted here
    unsigned ascii_blocks = 0;
    const auto by_codec = [&](const char* stop) {
        while (p < stop) {
            const code_point c = decode_or_replace<utf8_codec>(p, end);
            length += c >= 0x10000u ? 2 : 1;
        }
    };
    // Leaving the blocks at p: a sequence begun in the last block and not
    // finished before p is given back to the codec, from its lead on.
    const auto leave_blocks = [&] {
        if (!after_block) return;
        after_block = false;
        const char* q = p;
        while (p - q < 3 && utf8_codec::is_continuation(static_cast<unsigned char>(q[-1]))) --q;
        const unsigned char lead = static_cast<unsigned char>(q[-1]);
        if (lead >= 0xC0u && q - 1 + utf8_codec::trail_count(lead) + 1 > p) {
            length -= lead >= 0xF0u ? 2 : 1;
            p = q - 1;
        }
    };
    while (end - p >= 16) {
        if (ascii_blocks >= 4) {
            // A run of ASCII, 32 bytes at a time.
            ascii_blocks = 0;
            while (end - p >= 32 && _mm_movemask_epi8(_mm_or_si128(load(p), load(p + 16))) == 0) {
                length += 32;
                p += 32;
            }
            continue;
        }
        const __m128i v = load(p);
        // The bytes one, two and three places back: none at the start, or
        // where the codec left off (it stops where a sequence begins).
        __m128i back1, back2, back3;
        if (after_block) {
            back1 = load(p - 1);
            back2 = load(p - 2);
            back3 = load(p - 3);
        } else {
            back1 = _mm_slli_si128(v, 1);
            back2 = _mm_slli_si128(v, 2);
            back3 = _mm_slli_si128(v, 3);
        }
        // A continuation byte exactly where a lead before asks for one.
        const __m128i continuation = _mm_cmplt_epi8(v, _mm_set1_epi8(-0x40));  // 0x80..0xBF
        const __m128i not_needed = _mm_cmpeq_epi8(_mm_or_si128(_mm_or_si128(_mm_subs_epu8(back1, _mm_set1_epi8(-0x41)),
                                                                            _mm_subs_epu8(back2, _mm_set1_epi8(-0x21))),
                                                               _mm_subs_epu8(back3, _mm_set1_epi8(-0x11))),
                                                  zero);
        __m128i bad = _mm_cmpeq_epi8(continuation, not_needed);
        const __m128i four_byte = at_least(v, 0xF0);
        // Bytes that need a closer look: C0, C1 and F0 and above, and those
        // after E0, ED and F0 and above.
        const __m128i rare = _mm_or_si128(
            _mm_or_si128(four_byte, _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(-2)), _mm_set1_epi8(-0x40))),
            _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(back1, _mm_set1_epi8(-0x20)), _mm_cmpeq_epi8(back1, _mm_set1_epi8(-0x13))),
                at_least(back1, 0xF0)));
        if (_mm_movemask_epi8(rare) != 0) {
            // Bytes that begin nothing (C0, C1, F5..FF), and second bytes out
            // of range after E0 (overlong), ED (surrogate), F0 (overlong) and
            // F4 (above U+10FFFF).
            const __m128i below_a0 = _mm_cmplt_epi8(v, _mm_set1_epi8(-0x60));
            const __m128i below_90 = _mm_cmplt_epi8(v, _mm_set1_epi8(-0x70));
            const __m128i bad_lead = _mm_or_si128(
                at_least(v, 0xF5), _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(-2)), _mm_set1_epi8(-0x40)));
            const __m128i bad_second = _mm_or_si128(
                _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(back1, _mm_set1_epi8(-0x20)), below_a0),
                             _mm_andnot_si128(below_a0, _mm_cmpeq_epi8(back1, _mm_set1_epi8(-0x13)))),
                _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(back1, _mm_set1_epi8(-0x10)), below_90),
                             _mm_andnot_si128(below_90, _mm_cmpeq_epi8(back1, _mm_set1_epi8(-0x0C)))));
            bad = _mm_or_si128(bad, _mm_or_si128(bad_lead, bad_second));
        }
        const unsigned bad_mask = static_cast<unsigned>(_mm_movemask_epi8(bad));
        if (bad_mask != 0) {
            // The codec takes over up to just past the first bad byte, and
            // stops where a sequence begins.
            unsigned first = 0;
            while ((bad_mask & (1u << first)) == 0) ++first;
            const char* const stop = p + first + 1;
            leave_blocks();
            by_codec(stop);
            ascii_blocks = 0;
            continue;
        }
        // 1 per byte, less 1 per continuation, plus 1 per four-byte lead.
        const __m128i units = _mm_sub_epi8(_mm_add_epi8(_mm_set1_epi8(1), continuation), four_byte);
        totals = _mm_add_epi64(totals, _mm_sad_epu8(units, zero));
        // Without a branch: in text with accents it would mispredict.
        ascii_blocks = (ascii_blocks + 1) * static_cast<unsigned>(_mm_movemask_epi8(v) == 0);
        p += 16;
        after_block = true;
    }
    leave_blocks();
    by_codec(end);
    std::uint64_t sums[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), totals);
    return length + static_cast<std::size_t>(sums[0] + sums[1]);
}

#include "target_end.hpp"
