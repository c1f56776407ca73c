// The count of UTF-8 bytes for UTF-16 in the SSE2 kernel (which the SSSE3
// and AVX2 kernels use too).
#define WEXAL_KERNEL sse2
#define WEXAL_KERNEL_TARGET "sse2"
#include "target_begin.hpp"

#include "scalar.hpp"

// UTF-8 bytes for UTF-16 units: 1, 2 or 3 per unit below 0x80, 0x800 and
// above; a lead followed by a trail is one 4-byte character (3 + 3 - 2); an
// unpaired surrogate is U+FFFD, 3 bytes, like any unit from 0x800. Sets
// surrogates when the text holds any unit from 0xD800 to 0xDFFF.
std::size_t utf16_to_utf8_length(const wide_char* p, const wide_char* end, bool& surrogates) noexcept {
    std::size_t length = 0;
    surrogates = false;
    // Sixteen units at a time, their counts packed into bytes: 3, less one
    // below 0x80, less one below 0x800, less two for a lead whose next unit
    // is a trail (looked at only where there is a surrogate; the next units
    // come from loads one unit further, so the loop stops one unit early).
    // After four blocks of ASCII alone in a row (rare in text with accents,
    // where the switch would mispredict), runs of ASCII go 32 units at a time.
    const __m128i zero = _mm_setzero_si128();
    const auto load = [](const wide_char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    const auto is = [](__m128i v, int mask, int value) {
        return _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(mask))),
                               _mm_set1_epi16(static_cast<short>(value)));
    };
    __m128i totals = zero;  // two 64-bit sums
    unsigned ascii_blocks = 0;
    while (end - p > 16) {
        if (ascii_blocks >= 4) {
            ascii_blocks = 0;
            while (end - p > 32) {
                const __m128i all = _mm_or_si128(_mm_or_si128(load(p), load(p + 8)),
                                                 _mm_or_si128(load(p + 16), load(p + 24)));
                if (_mm_movemask_epi8(is(all, -0x80, 0)) != 0xFFFF) break;
                length += 32;
                p += 32;
            }
            continue;
        }
        const __m128i a = load(p);
        const __m128i b = load(p + 8);
        const __m128i below_0x80 = _mm_packs_epi16(is(a, -0x80, 0), is(b, -0x80, 0));
        const __m128i top_a = _mm_and_si128(a, _mm_set1_epi16(-0x800));
        const __m128i top_b = _mm_and_si128(b, _mm_set1_epi16(-0x800));
        __m128i units = _mm_add_epi8(_mm_add_epi8(_mm_set1_epi8(3), below_0x80),
                                     _mm_packs_epi16(_mm_cmpeq_epi16(top_a, zero), _mm_cmpeq_epi16(top_b, zero)));
        const __m128i surrogate = _mm_or_si128(_mm_cmpeq_epi16(top_a, _mm_set1_epi16(-0x2800)),
                                               _mm_cmpeq_epi16(top_b, _mm_set1_epi16(-0x2800)));
        if (_mm_movemask_epi8(surrogate) != 0) {
            surrogates = true;
            const __m128i pair = _mm_packs_epi16(
                _mm_and_si128(is(a, -0x400, -0x2800), is(load(p + 1), -0x400, -0x2400)),
                _mm_and_si128(is(b, -0x400, -0x2800), is(load(p + 9), -0x400, -0x2400)));
            units = _mm_add_epi8(units, _mm_add_epi8(pair, pair));
        }
        totals = _mm_add_epi64(totals, _mm_sad_epu8(units, zero));
        // Without a branch: in text with accents it would mispredict.
        ascii_blocks = (ascii_blocks + 1) * static_cast<unsigned>(_mm_movemask_epi8(below_0x80) == 0xFFFF);
        p += 16;
    }
    std::uint64_t sums[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), totals);
    length += static_cast<std::size_t>(sums[0] + sums[1]);
    return length + scalar_utf8_length(p, end, surrogates);
}

#include "target_end.hpp"
