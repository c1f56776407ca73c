// UTF-16 to UTF-8 in the AVX-512 kernel.
//
// Steps of 32 units, one ZMM register each. The last step of the input
// loads only the units that are there (a masked load), and every step stores
// exactly the bytes it produces (a masked store), so a short name runs
// entirely here, nothing is read outside the input and nothing is written
// past the result. Each step's bytes are built lane by lane and gathered with
// one compress into a register (a compress to memory is slow on some
// processors):
// - every unit below 0x800 (ASCII, Latin, Greek, Cyrillic): each 16-bit lane
//   holds the unit's one or two bytes;
// - otherwise each unit gets a 32-bit lane of one to four bytes, in two
//   halves of 16 units. A high surrogate followed by a low one takes the
//   pair's four bytes in its lane and the low one's lane none; every other
//   surrogate is unpaired and becomes U+FFFD, three bytes, as the codec has
//   it (it consumes such a unit alone). A pair cut by the end of the step is
//   left whole to the next step.
// A step runs only when all of its bytes fit in the room left; the first one
// that does not fit, and what follows, goes to the scalar loop, which
// stops exactly where the plain loop does.
#define WEXAL_KERNEL avx512
#define WEXAL_KERNEL_TARGET "avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi2"
#include "target_begin.hpp"

#include "avx512_lanes.hpp"
#include "scalar.hpp"

// 0x80 | (x & 0x3F) in every 16-bit lane: a continuation byte.
inline __m512i trail_of(__m512i x) noexcept {
    return _mm512_ternarylogic_epi32(x, set16(0x3F), set16(0x80), 0xEA);  // (a & b) | c
}

// Every unit below 0x800: the first (or only) byte of each in the low half of
// its lane, the second in the high half.
inline __m512i two_byte_lanes(__m512i v, __mmask32 wide) noexcept {
    const __m512i pair = _mm512_ternarylogic_epi32(_mm512_srli_epi16(v, 6), set16(0xC0),
                                                   _mm512_slli_epi16(trail_of(v), 8), 0xFE);  // a | b | c
    return _mm512_mask_mov_epi16(v, wide, pair);
}

// Stores the bytes of keep gathered to the front; returns their number.
inline unsigned put_kept(char* out, __m512i bytes, std::uint64_t keep) noexcept {
    const unsigned n = static_cast<unsigned>(_mm_popcnt_u64(keep));
    _mm512_mask_storeu_epi8(out, _bzhi_u64(~0ull, n), _mm512_maskz_compress_epi8(keep, bytes));
    return n;
}

// A step of units of any width (v; next: the unit after each). Each unit's
// bytes are built in 16-bit halves, lo (the first two) and hi (the rest),
// then joined into one 32-bit lane per unit. emit: the lanes that produce
// bytes (the step's units but the low halves of pairs). Pairs: whether v
// holds surrogates, paired (highs: paired_high) or to be replaced.
template <bool Pairs>
inline bool any_width_step(__m512i v, __m512i next, __mmask32 emit, __mmask32 paired_high, char*& out,
                           std::size_t& room) noexcept {
    const __mmask32 wide = at_least_0x80(v);
    const __mmask32 wider = at_least_0x800(v);
    const __m512i trail = trail_of(v);
    const __m512i three = _mm512_ternarylogic_epi32(_mm512_srli_epi16(v, 12), set16(0xE0),
                                                    _mm512_slli_epi16(trail_of(_mm512_srli_epi16(v, 6)), 8), 0xFE);
    __m512i lo = _mm512_mask_mov_epi16(two_byte_lanes(v, wide), wider, three);
    __m512i hi = _mm512_maskz_mov_epi16(wider, trail);
    if (Pairs) {
        // The code point less 0x10000 is w (the high unit's ten bits plus
        // 0x40: the code point's top eleven bits) then the low unit's ten.
        const __m512i w = _mm512_add_epi16(_mm512_and_si512(v, set16(0x3FF)), set16(0x40));
        const __m512i first = _mm512_or_si512(
            _mm512_ternarylogic_epi32(_mm512_srli_epi16(w, 8), _mm512_slli_epi16(w, 6), set16(0x3F00),
                                      0xF8),  // a | (b & c)
            set16(0x80F0));
        // Third byte: w's low two bits and the low unit's bits 6..9; fourth:
        // its low six bits.
        const __m512i third = _mm512_or_si512(_mm512_srli_epi16(_mm512_slli_epi16(w, 14), 10),
                                              _mm512_srli_epi16(_mm512_slli_epi16(next, 6), 12));
        const __m512i second = _mm512_ternarylogic_epi32(_mm512_slli_epi16(next, 8), third, set16(0x3F00),
                                                         0xEC);  // (a & c) | b
        lo = _mm512_mask_mov_epi16(lo, paired_high, first);
        hi = _mm512_mask_mov_epi16(hi, paired_high, _mm512_or_si512(second, set16(0x8080)));
        // The low units of pairs: nothing.
        lo = _mm512_maskz_mov_epi16(emit, lo);
        hi = _mm512_maskz_mov_epi16(emit, hi);
    }
    // Lane order for the joins: each 128-bit block takes four units from
    // the first half and four from the second.
    // (The masked forms of the permutes and conversions below keep a
    // compiler from warning about their unmasked forms' undefined inputs.)
    const __m512i order = _mm512_setr_epi64(0, 4, 1, 5, 2, 6, 3, 7);
    lo = _mm512_maskz_permutexvar_epi64(0xFF, order, lo);
    hi = _mm512_maskz_permutexvar_epi64(0xFF, order, hi);
    const __m512i first_half = _mm512_unpacklo_epi16(lo, hi);
    const __m512i second_half = _mm512_unpackhi_epi16(lo, hi);
    // A lane's bytes are its nonzero ones, and its first byte whenever it
    // emits (U+0000 is one zero byte).
    const __m512i marker = _mm512_set1_epi32(0xFF);
    const __mmask16 emit_first = static_cast<__mmask16>(emit);
    const __mmask16 emit_second = static_cast<__mmask16>(emit >> 16);
    const __m512i shown_first = _mm512_mask_or_epi32(first_half, emit_first, first_half, marker);
    const __m512i shown_second = _mm512_mask_or_epi32(second_half, emit_second, second_half, marker);
    const std::uint64_t keep_first = _mm512_test_epi8_mask(shown_first, shown_first);
    const std::uint64_t keep_second = _mm512_test_epi8_mask(shown_second, shown_second);
    const std::size_t produced = static_cast<std::size_t>(_mm_popcnt_u64(keep_first) + _mm_popcnt_u64(keep_second));
    if (produced > room) return false;
    out += put_kept(out, first_half, keep_first);
    out += put_kept(out, second_half, keep_second);
    room -= produced;
    return true;
}

// One step at p: 32 units when Full (then p + 32 < end and room >= 96, the
// most any 32 units produce), else what is left up to 32, and only if its
// bytes fit in room (false, nothing done, when they do not).
template <bool Full>
inline bool step(const wide_char*& p, const wide_char* end, char*& out, std::size_t& room,
                 unsigned& ascii_steps) noexcept {
    const std::size_t left = static_cast<std::size_t>(end - p);
    unsigned n = Full ? step_units : step_size(left);
    const __m512i v = Full ? _mm512_loadu_si512(p) : load_units(p, n);
    const __mmask32 wide = at_least_0x80(v);
    if (at_least_0x800(v) == 0) {
        // One or two bytes per unit, in its 16-bit lane.
        const __m512i bytes = two_byte_lanes(v, wide);
        const std::uint64_t keep = _mm512_test_epi8_mask(bytes, bytes) |
                                   (Full ? 0x5555555555555555ull : 0x5555555555555555ull & _bzhi_u64(~0ull, 2 * n));
        if (!Full && static_cast<std::size_t>(_mm_popcnt_u64(keep)) > room) return false;
        const unsigned produced = put_kept(out, bytes, keep);
        p += n;
        out += produced;
        room -= produced;
        ascii_steps = wide == 0 ? ascii_steps + 1 : 0;
        return true;
    }
    ascii_steps = 0;
    if (units_like(v, 0xF800, 0xD800) == 0) {
        if (!any_width_step<false>(v, v, _bzhi_u32(~0u, n), 0, out, room)) return false;
        p += n;
        return true;
    }
    // Surrogates: pairs, and the unpaired ones as U+FFFD.
    const __m512i next = Full ? _mm512_loadu_si512(p + 1) : load_next_units(p, left);
    __mmask32 paired_high = paired_highs(v, next);
    if ((paired_high >> 31) != 0) {
        // The pair goes on past the step: the next step takes it.
        n = step_units - 1;
        paired_high &= 0x7FFFFFFFu;
    }
    const __mmask32 paired_low = paired_high << 1;
    const __mmask32 unpaired = units_like(v, 0xF800, 0xD800) & ~(paired_high | paired_low);
    const __m512i units = _mm512_mask_mov_epi16(v, unpaired, set16(0xFFFD));
    if (paired_high == 0) {
        // Unpaired surrogates alone (bad input in any script): no pairs to
        // build. (The lanes past the step, a cut pair's high unit, are
        // cleared: without pairs every lane with bits is taken.)
        const __mmask32 step_lanes = _bzhi_u32(~0u, n);
        if (!any_width_step<false>(_mm512_maskz_mov_epi16(step_lanes, units), units, step_lanes, 0, out, room))
            return false;
        p += n;
        return true;
    }
    if (!any_width_step<true>(units, next, _bzhi_u32(~0u, n) & ~paired_low, paired_high, out, room)) return false;
    p += n;
    return true;
}

WEXAL_STEP_INLINE void steps(conversion<char, wide_char>& c) noexcept {
    const wide_char* p = c.in;
    const wide_char* const end = c.end;
    char* out = c.out;
    std::size_t room = c.room;
    // Steps in a row that were ASCII alone: after two, a run of ASCII is
    // likely and goes 64 units at a time (not before: text with an accent
    // every few words would mispredict that branch).
    unsigned ascii_steps = 0;
    for (;;) {
        // Whole steps while the room surely suffices: loads that need no
        // mask and bytes that need no count before they are stored.
        while (end - p > 32 && room >= 96) {
            // Units below 0x800 (the common case of text in Latin, Greek or
            // Cyrillic letters) right here, the other steps in step.
            const __m512i v = _mm512_loadu_si512(p);
            const __mmask32 wide = at_least_0x80(v);
            if (at_least_0x800(v) != 0) {
                step<true>(p, end, out, room, ascii_steps);
                continue;
            }
            const __m512i bytes = two_byte_lanes(v, wide);
            const unsigned produced = put_kept(out, bytes, _mm512_test_epi8_mask(bytes, bytes) | 0x5555555555555555ull);
            p += 32;
            out += produced;
            room -= produced;
            ascii_steps = wide == 0 ? ascii_steps + 1 : 0;
            if (ascii_steps >= 2) {
                ascii_steps = 0;
                while (end - p >= 64 && room >= 64) {
                    const __m512i a = _mm512_loadu_si512(p);
                    const __m512i b = _mm512_loadu_si512(p + 32);
                    if (at_least_0x80(_mm512_or_si512(a, b)) != 0) break;
                    // (The masked form keeps a compiler from warning about
                    // the unmasked one's undefined input.)
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_maskz_cvtepi16_epi8(~0u, a));
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm512_maskz_cvtepi16_epi8(~0u, b));
                    p += 64;
                    out += 64;
                    room -= 64;
                }
            }
        }
        if (p == end || !step<false>(p, end, out, room, ascii_steps)) break;
    }
    // What the steps leave (a room too short for the next step): the scalar
    // loop, which stops exactly where the plain loop does.
    c.in = p;
    c.out = out;
    c.room = room;
}

transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin,
                                                const wide_char* end) noexcept {
    return convert(out, room, begin, end, steps);
}

#include "target_end.hpp"
