// UTF-16 to UTF-8 in the AVX2 kernel: the SSSE3 steps with runs of wider
// steps: ASCII 32 units at a time, text below 0x800 16 units in one shuffle
// per 8, and 16-unit steps of any width, unpaired surrogates included (CJK
// with a digit or a line break here and there, emoji among any script).
// Each run keeps to the margins of the main loop (kernels.hpp).
#define WEXAL_KERNEL avx2
#define WEXAL_KERNEL_TARGET "avx2"
#include "target_begin.hpp"

#include "scalar.hpp"
#include "utf16_to_utf8_sse2.hpp"
#include "utf16_to_utf8_ssse3.hpp"

// Shuffle controls that take the first byte of each 16-bit lane, and the
// second too where the lane's bit in the index is 0 (a two-byte character),
// side by side.
struct byte_pair_gather_table {
    std::uint8_t control[256][16];
    std::uint8_t count[256];
    constexpr byte_pair_gather_table() : control(), count() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned n = 0;
            for (unsigned i = 0; i < 8; ++i) {
                control[m][n++] = static_cast<std::uint8_t>(2 * i);
                if (((m >> i) & 1u) == 0) control[m][n++] = static_cast<std::uint8_t>(2 * i + 1);
            }
            for (unsigned k = n; k < 16; ++k) control[m][k] = 0x80;
            count[m] = static_cast<std::uint8_t>(n);
        }
    }
};

struct avx2_utf16_steps : ssse3_utf16_steps {
    static constexpr byte_pair_gather_table byte_pair_gather{};

    // UTF-16 to UTF-8: the 16 units of a and b, all below 0x800, as one or
    // two bytes each: each unit's bytes in its 16-bit lane, a shuffle per
    // 8 units keeping the second byte of the two-byte ones. Returns the end
    // of the bytes; the stores reach 32 bytes from out at most.
    static char* two_byte_units(const wide_char*, __m128i a, __m128i b, char* out) noexcept {
        const __m256i u = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
        const __m256i ascii = _mm256_cmpeq_epi16(_mm256_and_si256(u, _mm256_set1_epi16(static_cast<short>(0xFF80))),
                                                 _mm256_setzero_si256());
        const __m256i trail = _mm256_or_si256(_mm256_and_si256(u, _mm256_set1_epi16(0x3F)), _mm256_set1_epi16(0x80));
        const __m256i two = _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi16(u, 6), _mm256_set1_epi16(0xC0)),
                                            _mm256_slli_epi16(trail, 8));
        const __m256i bytes = _mm256_blendv_epi8(two, u, ascii);
        // One bit per unit: bits 0-7 for a, 16-23 for b.
        const std::uint32_t keys = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(ascii, ascii)));
        const unsigned low = keys & 0xFFu;
        const unsigned high = (keys >> 16) & 0xFFu;
        const __m256i gathered = _mm256_shuffle_epi8(
            bytes, _mm256_inserti128_si256(
                       _mm256_castsi128_si256(
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(byte_pair_gather.control[low]))),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(byte_pair_gather.control[high])), 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(gathered));
        out += byte_pair_gather.count[low];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(gathered, 1));
        return out + byte_pair_gather.count[high];
    }

    // UTF-16 to UTF-8: ASCII, 32 units a step while none is above 0x7F.
    static void ascii_run(const wide_char*& cursor, const wide_char* limit, char*& out_cursor,
                          std::size_t& room) noexcept {
        constexpr std::size_t scratch_room = utf16_to_utf8_limits::scratch_room;
        const wide_char* p = cursor;
        char* out = out_cursor;
        std::size_t remaining = room;
        while (limit - p > 16 && remaining >= scratch_room + 16) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
            if (!_mm256_testz_si256(_mm256_or_si256(a, b), _mm256_set1_epi16(static_cast<short>(0xFF80)))) break;
            // The pack works per 128-bit lane: the 64-bit quarters back in order.
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                                _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
            p += 32;
            out += 32;
            remaining -= 32;
        }
        cursor = p;
        out_cursor = out;
        room = remaining;
    }

    // Sixteen units from 0x800 to 0xFFFF as 48 bytes of UTF-8: each 128-bit
    // lane of 8 builds its units' bytes in place and shuffles them into 24.
    static void narrow_three_byte_units(__m256i u, char* out) noexcept {
        // From the 16-bit lanes of lead_middle (a unit's first byte, then its
        // second) and of last (its third byte, low): the lane's 24 bytes,
        // 16 then 8.
        const __m256i lead_middle = _mm256_or_si256(
            _mm256_or_si256(_mm256_srli_epi16(u, 12),
                            _mm256_and_si256(_mm256_slli_epi16(u, 2), _mm256_set1_epi16(0x3F00))),
            _mm256_set1_epi16(static_cast<short>(0x80E0)));
        const __m256i last = _mm256_or_si256(_mm256_and_si256(u, _mm256_set1_epi16(0x3F)), _mm256_set1_epi16(0x80));
        const __m256i front = _mm256_or_si256(
            _mm256_shuffle_epi8(lead_middle, _mm256_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10, 0,
                                                              1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10)),
            _mm256_shuffle_epi8(last, _mm256_setr_epi8(-1, -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1, -1,
                                                       -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1)));
        const __m256i back = _mm256_or_si256(
            _mm256_shuffle_epi8(lead_middle,
                                _mm256_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, 11, -1,
                                                 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
            _mm256_shuffle_epi8(
                last, _mm256_setr_epi8(-1, 10, -1, -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, 10, -1, -1,
                                       12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(front));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_castsi256_si128(back));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_extracti128_si256(front, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 40), _mm256_extracti128_si256(back, 1));
    }

    // The word_gather controls of two groups of four units, one per lane.
    static __m256i gather_control(unsigned low, unsigned high) noexcept {
        return _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(word_gather.control[low]))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(word_gather.control[high])), 1);
    }

    // Sixteen units of any widths, each unit's bytes in a 32-bit lane, of
    // which a shuffle per four units keeps the first width (word_gather).
    // below_0x80 and below_0x800 are all ones in the lanes of such units.
    // With Pairs, high and low mark the paired surrogates (none is unpaired),
    // a high one in the last lane taking nothing when cut (it waits for the next step): a
    // pair's four bytes go two in the high unit's lane and two in the low
    // one's. Returns the bytes written; the stores reach 16 bytes past the
    // last four units' start (52 at most).
    template <bool Pairs>
    static unsigned narrow_mixed_units(__m256i u, __m256i below_0x80, __m256i below_0x800, __m256i high, __m256i low,
                                       bool cut, char* out) noexcept {
        const __m256i six = _mm256_set1_epi16(0x3F);
        const __m256i trail = _mm256_or_si256(_mm256_and_si256(u, six), _mm256_set1_epi16(0x80));
        const __m256i two = _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi16(u, 6), _mm256_set1_epi16(0xC0)),
                                            _mm256_slli_epi16(trail, 8));
        const __m256i middle = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(u, 6), six), _mm256_set1_epi16(0x80));
        const __m256i three = _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi16(u, 12), _mm256_set1_epi16(0xE0)),
                                              _mm256_slli_epi16(middle, 8));
        __m256i first = _mm256_blendv_epi8(three, _mm256_blendv_epi8(two, u, below_0x80), below_0x800);
        // Two bits of width per unit (1 + from 0x80 + from 0x800, a
        // surrogate 2), in the order of the units: four units' widths make a
        // key.
        const std::uint32_t odd = 0x55555555u;
        std::uint32_t widths = odd + (~static_cast<std::uint32_t>(_mm256_movemask_epi8(below_0x80)) & odd) +
                               (~static_cast<std::uint32_t>(_mm256_movemask_epi8(below_0x800)) & odd);
        if (Pairs) {
            // The code point less 0x10000 is v (its top 11 bits: the high
            // unit's ten plus 0x40) and the low unit's ten bits.
            const __m256i v = _mm256_add_epi16(_mm256_and_si256(u, _mm256_set1_epi16(0x3FF)), _mm256_set1_epi16(0x40));
            const __m256i high_bytes = _mm256_or_si256(
                _mm256_or_si256(_mm256_srli_epi16(v, 8), _mm256_set1_epi16(static_cast<short>(0x80F0))),
                _mm256_slli_epi16(_mm256_and_si256(_mm256_srli_epi16(v, 2), six), 8));
            // Lane i: v of lane i - 1 (the high unit before a low one).
            const __m256i v_before = _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 14);
            const __m256i low_bytes = _mm256_or_si256(
                _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(v_before, _mm256_set1_epi16(3)), 4),
                                _mm256_and_si256(_mm256_srli_epi16(u, 6), _mm256_set1_epi16(0xF))),
                _mm256_or_si256(_mm256_slli_epi16(trail, 8), _mm256_set1_epi16(0x80)));
            first = _mm256_blendv_epi8(_mm256_blendv_epi8(first, high_bytes, high), low_bytes, low);
            widths -= static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(high, low))) & odd;
            if (cut) widths &= 0x3FFFFFFFu;
        }
        const unsigned k0 = widths & 0xFFu, k1 = (widths >> 8) & 0xFFu, k2 = (widths >> 16) & 0xFFu, k3 = widths >> 24;
        // Units 0-3 and 8-11, then 4-7 and 12-15.
        const __m256i a = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(first, trail), gather_control(k0, k2));
        const __m256i b = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(first, trail), gather_control(k1, k3));
        char* const start = out;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(a));
        out += word_gather.count[k0];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(b));
        out += word_gather.count[k1];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(a, 1));
        out += word_gather.count[k2];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(b, 1));
        out += word_gather.count[k3];
        return static_cast<unsigned>(out - start);
    }

    // All ones in the 16-bit lanes of units below 0x800 or surrogates: all
    // zero when the 16 units are three bytes each.
    static __m256i three_byte_flags(__m256i u) noexcept {
        const __m256i top = _mm256_and_si256(u, _mm256_set1_epi16(static_cast<short>(0xF800)));
        return _mm256_or_si256(_mm256_cmpeq_epi16(top, _mm256_setzero_si256()),
                               _mm256_cmpeq_epi16(top, _mm256_set1_epi16(static_cast<short>(0xD800))));
    }

    // UTF-16 to UTF-8 from a unit that is not ASCII: 16 units a step while
    // the step is not ASCII alone: three-byte
    // units alone the shortest way, units below 0x800 as two_byte_units,
    // others (CJK with a digit here and there, emoji among any script)
    // through the gather. False when the first step could not be taken.
    WEXAL_STEP_INLINE static bool wide_run(const wide_char*& cursor, const wide_char* limit, char*& out_cursor,
                                           std::size_t& room) noexcept {
        constexpr std::size_t scratch_room = utf16_to_utf8_limits::scratch_room;
        const wide_char* p = cursor;
        char* out = out_cursor;
        std::size_t remaining = room;
        // The stores reach 52 bytes; what follows writes at least as far,
        // since the plain loop stops at most 3 short of the room.
        while (p < limit && remaining >= scratch_room + 16) {
            const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i top = _mm256_and_si256(u, _mm256_set1_epi16(static_cast<short>(0xF800)));
            const __m256i below_0x800 = _mm256_cmpeq_epi16(top, _mm256_setzero_si256());
            const __m256i surrogate = _mm256_cmpeq_epi16(top, _mm256_set1_epi16(static_cast<short>(0xD800)));
            const std::uint32_t small = static_cast<std::uint32_t>(_mm256_movemask_epi8(below_0x800));
            const std::uint32_t pairs = static_cast<std::uint32_t>(_mm256_movemask_epi8(surrogate));
            if ((small | pairs) == 0) {
                // Three-byte units alone (CJK) in a loop of their own, short
                // enough for its constants to stay in registers.
                __m256i v = u;
                do {
                    narrow_three_byte_units(v, out);
                    p += 16;
                    out += 48;
                    remaining -= 48;
                    if (p >= limit || remaining < scratch_room + 16) break;
                    v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
                } while (_mm256_testz_si256(three_byte_flags(v), three_byte_flags(v)));
                continue;
            }
            const __m256i below_0x80 = _mm256_cmpeq_epi16(
                _mm256_and_si256(u, _mm256_set1_epi16(static_cast<short>(0xFF80))), _mm256_setzero_si256());
            if (small == 0xFFFFFFFFu) {
                if (static_cast<std::uint32_t>(_mm256_movemask_epi8(below_0x80)) == 0xFFFFFFFFu) break;
                char* const start = out;
                out = two_byte_units(p, _mm256_castsi256_si128(u), _mm256_extracti128_si256(u, 1), out);
                p += 16;
                remaining -= static_cast<std::size_t>(out - start);
                continue;
            }
            unsigned produced;
            unsigned used = 16;
            if (pairs == 0) {
                produced = narrow_mixed_units<false>(u, below_0x80, below_0x800, u, u, false, out);
            } else {
                // The surrogates: high ones with a low one next (the next
                // step's unit too: p[16] is inside the margin), low ones
                // after such a high one (not at the step's start: the steps
                // never stop inside a pair); every other one is unpaired and
                // becomes U+FFFD, three bytes, alone, as the codec has it.
                const __m256i fc00 = _mm256_set1_epi16(static_cast<short>(0xFC00));
                const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
                const __m256i high = _mm256_and_si256(
                    _mm256_cmpeq_epi16(_mm256_and_si256(u, fc00), _mm256_set1_epi16(static_cast<short>(0xD800))),
                    _mm256_cmpeq_epi16(_mm256_and_si256(next, fc00), _mm256_set1_epi16(static_cast<short>(0xDC00))));
                // Lane i: high of lane i - 1.
                const __m256i high_before = _mm256_alignr_epi8(high, _mm256_permute2x128_si256(high, high, 0x08), 14);
                const __m256i low = _mm256_and_si256(
                    _mm256_cmpeq_epi16(_mm256_and_si256(u, fc00), _mm256_set1_epi16(static_cast<short>(0xDC00))),
                    high_before);
                const __m256i units = _mm256_blendv_epi8(u, _mm256_set1_epi16(static_cast<short>(0xFFFD)),
                                                         _mm256_andnot_si256(_mm256_or_si256(high, low), surrogate));
                // A pair cut by the step's end waits for the next step.
                const bool cut = (static_cast<std::uint32_t>(_mm256_movemask_epi8(high)) >> 30) != 0;
                produced = narrow_mixed_units<true>(units, below_0x80, below_0x800, high, low, cut, out);
                used -= cut ? 1 : 0;
            }
            p += used;
            out += produced;
            remaining -= produced;
        }
        const bool moved = p != cursor;
        cursor = p;
        out_cursor = out;
        room = remaining;
        return moved;
    }
};

transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin,
                                                const wide_char* end) noexcept {
    return convert(out, room, begin, end, sse2_utf16_to_utf8_steps<avx2_utf16_steps>);
}

#include "target_end.hpp"
