// UTF-8 to UTF-16 in the AVX2 kernel: the SSSE3 steps with runs of 32-byte
// steps where the text keeps to one width, ASCII or three-byte characters
// (CJK). Each run keeps to the margins of the main loop (kernels.hpp): loads
// stay before limit plus the tail, stores before the room's end, and units
// stored past what a run takes are overwritten by what follows.
#define WEXAL_KERNEL avx2
#define WEXAL_KERNEL_TARGET "avx2"
#include "target_begin.hpp"

#include "scalar.hpp"
#include "utf8_to_utf16_sse2.hpp"
#include "utf8_to_utf16_ssse3.hpp"

struct avx2_utf8_steps : ssse3_utf8_steps {
    // UTF-8 to UTF-16: ASCII, 32 bytes a step while no byte is above 0x7F.
    static void ascii_run(const unsigned char*& cursor, const unsigned char* limit, wide_char*& out_cursor,
                          std::size_t& room) noexcept {
        constexpr std::size_t scratch_room = utf8_to_utf16_limits::scratch_room;
        const unsigned char* p = cursor;
        wide_char* out = out_cursor;
        std::size_t remaining = room;
        while (limit - p > 16 && remaining >= scratch_room + 16) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            if (_mm256_movemask_epi8(v) != 0) break;
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16),
                                _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)));
            p += 32;
            out += 32;
            remaining -= 32;
        }
        cursor = p;
        out_cursor = out;
        room = remaining;
    }

    // Four three-byte characters at low and four at high, one in each
    // 32-bit lane; form is all ones in the lanes where they are well-formed
    // (not yet looking at overlong ones or surrogates). Reads 16 bytes at each.
    static __m256i decode_three_byte_quads(const unsigned char* low, const unsigned char* high,
                                           __m256i& form) noexcept {
        const __m256i bytes = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
        // Each 32-bit lane: a character's third byte, second and lead, low first.
        const __m256i x = _mm256_shuffle_epi8(
            bytes, _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1, 2, 1, 0, -1, 5, 4, 3, -1, 8,
                                    7, 6, -1, 11, 10, 9, -1));
        form = _mm256_cmpeq_epi32(_mm256_and_si256(x, _mm256_set1_epi32(0xF0C0C0)), _mm256_set1_epi32(0xE08080));
        // The third byte's six bits and the second's, then the lead's four.
        const __m256i pairs = _mm256_maddubs_epi16(_mm256_and_si256(x, _mm256_set1_epi32(0x0F3F3F)),
                                                   _mm256_set1_epi32(0x00014001));
        return _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x10000001));
    }

    // UTF-8 to UTF-16: three-byte characters, 16 (48 bytes) a step, while
    // they are well-formed, neither overlong nor surrogates. A step that
    // meets anything else keeps the characters before it. False when not
    // even the first character could be taken.
    static bool three_byte_run(const unsigned char*& cursor, const unsigned char* limit, wide_char*& out_cursor,
                               std::size_t& room) noexcept {
        constexpr std::size_t scratch_room = utf8_to_utf16_limits::scratch_room;
        const unsigned char* p = cursor;
        wide_char* out = out_cursor;
        std::size_t remaining = room;
        while (p < limit && remaining >= scratch_room) {
            // Characters 0-3 and 8-11, then 4-7 and 12-15: packed, in order.
            __m256i form_a, form_b;
            const __m256i a = decode_three_byte_quads(p, p + 24, form_a);
            const __m256i b = decode_three_byte_quads(p + 12, p + 36, form_b);
            const __m256i units = _mm256_packus_epi32(a, b);
            const __m256i top = _mm256_and_si256(units, _mm256_set1_epi16(static_cast<short>(0xF800)));
            const __m256i bad = _mm256_or_si256(_mm256_cmpeq_epi16(top, _mm256_setzero_si256()),
                                                _mm256_cmpeq_epi16(top, _mm256_set1_epi16(static_cast<short>(0xD800))));
            const std::uint32_t good = static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_andnot_si256(bad, _mm256_packs_epi32(form_a, form_b))));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), units);
            if (good == 0xFFFFFFFFu) {
                p += 48;
                out += 16;
                remaining -= 16;
                continue;
            }
            const unsigned k = lowest_set_bit(~good) / 2;
            p += 3 * k;
            out += k;
            remaining -= k;
            break;
        }
        const bool moved = p != cursor;
        cursor = p;
        out_cursor = out;
        room = remaining;
        return moved;
    }
};

transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
                                                const char* end) noexcept {
    return convert(out, room, begin, end, sse2_utf8_to_utf16_steps<avx2_utf8_steps>);
}

#include "target_end.hpp"
