// Counting what a conversion would write, without writing it: the sizes
// behind transcoded_length, and so behind widen and narrow, which size their
// string before they convert. Counting needs no stores and far fewer
// branches than converting, so it costs a fraction of the conversion.
//
// Included by transcode.hpp after it has decided WEXAL_U8PORT_HAS_SSE2.
#ifndef WEXAL_U8PORT_TRANSCODE_LENGTH_HPP
#define WEXAL_U8PORT_TRANSCODE_LENGTH_HPP

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// UTF-8 bytes for UTF-16 units: 1, 2 or 3 per unit below 0x80, 0x800 and
// above; a lead followed by a trail is one 4-byte character (3 + 3 - 2); an
// unpaired surrogate is U+FFFD, 3 bytes, like any unit from 0x800. Sets
// surrogates when the text holds any unit from 0xD800 to 0xDFFF.
inline std::size_t utf8_length_of(const wide_char* p, const wide_char* end, bool& surrogates) noexcept {
    std::size_t length = 0;
    surrogates = false;
#if WEXAL_U8PORT_HAS_SSE2
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
#endif
    for (; p != end; ++p) {
        const unsigned u = static_cast<std::uint16_t>(*p);
        length += u < 0x80u ? 1 : u < 0x800u ? 2 : 3;
        if (u - 0xD800u < 0x800u) {
            surrogates = true;
            if (u < 0xDC00u && end - p > 1 && static_cast<std::uint16_t>(p[1]) - 0xDC00u < 0x400u) length -= 2;
        }
    }
    return length;
}

#if WEXAL_U8PORT_HAS_SSE2
// UTF-16 units for UTF-8 bytes. Blocks of 16 bytes that are well-formed UTF-8
// (sequences may run into the next block) are counted in one go: one unit
// per byte that is not a continuation, one more per four-byte lead. Anything
// else, and the last bytes, go through the codec one sequence at a time, as
// the conversion does.
inline std::size_t utf16_length_of(const char* begin, const char* end) noexcept {
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
            code_point c = utf8_codec::decode(p, end);
            length += (c != invalid_input && c != truncated_input && c >= 0x10000u) ? 2 : 1;
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
#endif

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_TRANSCODE_LENGTH_HPP
