// The SSE2 steps from UTF-8 to UTF-16, on which the SSSE3 and AVX2 kernels
// build: the SSE2 kernel's file includes this header inside its region, and
// so do theirs, each for its own instruction set.
//
// How they go fast:
// - The main loop keeps a margin of input and of room (the scratch limits
//   of kernels.hpp). With the margin it may load a whole block (16 or 32
//   bytes) or a 32-bit word without looking at the end, and may store a
//   whole block although only its first k units are final: the units after
//   them are overwritten by what the rest of the input produces, since that
//   is at least the margin's worth, and the room cannot run out before.
// - Blocks: ASCII; three-byte characters (CJK) eight at a time; a block
//   with one two-byte character (an accent) in one go; mixed blocks of any
//   width.
// - Well-formed sequences are decoded inline; anything else goes through the
//   scalar step, so a bad sequence consumes exactly what the codec says it
//   does, and the blocks take over again right after it.
// - The last scratch_tail bytes, and what a room too small for the margin
//   leaves, are the scalar loop's.
//
// A kernel built on these steps names them in a struct (Steps below) with
// three members, the SSE2 ones or wider ones of its own:
//   static unsigned mixed(const unsigned char* p, wide_char* out, unsigned& produced)
//       16 bytes of any widths at p (reading p[0..18], storing up to 16
//       units), as utf8_mixed_block;
//   static void ascii_run(const unsigned char*& p, const unsigned char* limit, wide_char*& out,
//                         std::size_t& remaining)
//       ASCII while it lasts and the margins allow;
//   static bool three_byte_run(const unsigned char*& p, const unsigned char* limit, wide_char*& out,
//                              std::size_t& remaining)
//       three-byte characters while they are well-formed; false when it took
//       none.
// Deriving from sse2_utf8_steps takes the SSE2 member wherever a kernel has
// no wider one.
//
// No include guard: included once per kernel file, inside its namespace.

// Four bytes as one word, the first in the low bits, on any byte order.
inline std::uint32_t load_bytes4(const unsigned char* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Four three-byte sequences in a row at p as four units: each 32-bit lane of
// the result holds one character, or the mask in valid is not 0xFFFF when
// any of them is malformed, overlong or a surrogate. Reads 12 bytes and one
// more.
inline __m128i widen_three_byte_quad(const unsigned char* p, __m128i& valid) noexcept {
    const auto word = [](const unsigned char* q) { return _mm_cvtsi32_si128(static_cast<int>(load_bytes4(q))); };
    const __m128i x = _mm_unpacklo_epi64(_mm_unpacklo_epi32(word(p), word(p + 3)),
                                         _mm_unpacklo_epi32(word(p + 6), word(p + 9)));
    const __m128i form = _mm_cmpeq_epi32(_mm_and_si128(x, _mm_set1_epi32(0xC0C0F0)), _mm_set1_epi32(0x8080E0));
    const __m128i c = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(_mm_and_si128(x, _mm_set1_epi32(0x0F)), 12),
                                                _mm_and_si128(_mm_srli_epi32(x, 2), _mm_set1_epi32(0x0FC0))),
                                   _mm_and_si128(_mm_srli_epi32(x, 16), _mm_set1_epi32(0x3F)));
    const __m128i overlong = _mm_cmpgt_epi32(_mm_set1_epi32(0x800), c);
    const __m128i surrogate = _mm_cmpeq_epi32(_mm_and_si128(c, _mm_set1_epi32(0xF800)), _mm_set1_epi32(0xD800));
    valid = _mm_andnot_si128(_mm_or_si128(overlong, surrogate), form);
    return c;
}

// Stores the 16 units in lo and hi whose byte lanes in keep are all ones
// side by side at out, in order, and returns their number. The others are
// stored too, each where the next kept one goes, so that it overwrites them;
// one may be left after the result.
template <std::size_t... I>
inline unsigned put_selected_units(__m128i lo, __m128i hi, __m128i keep, wide_char* out,
                                   std::index_sequence<I...>) noexcept {
    // Where each goes: the number of kept lanes before it.
    const __m128i one = _mm_and_si128(keep, _mm_set1_epi8(1));
    __m128i sum = _mm_add_epi8(one, _mm_slli_si128(one, 1));
    sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 2));
    sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 4));
    sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 8));
    alignas(16) std::uint8_t at[16];
    alignas(16) std::uint16_t units[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_sub_epi8(sum, one));
    _mm_store_si128(reinterpret_cast<__m128i*>(units), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(units + 8), hi);
    ((out[at[I]] = static_cast<wide_char>(units[I])), ...);
    return static_cast<unsigned>(_mm_extract_epi16(sum, 7)) >> 8;
}

// Sixteen bytes of characters of any width, in one go when every character
// that starts among them is well-formed and complete: each byte's lane
// computes the unit its character starts with (the low surrogate of a
// four-byte character in the lane of its second byte), and the lanes that
// begin no unit are dropped as the units are stored, one store per lane at
// the next free place. Reads p[0..18]; writes out[0..16], of which the unit
// after the result may be left over (what follows overwrites it). Returns the
// bytes consumed (16 and the rest of a character that starts among them, or
// 15 when a four-byte one starts at the last) and sets produced; 0 when
// anything among them is malformed or cut.
// The units of such a block, lane by lane, with the lanes to keep (all ones)
// and the bytes the block takes.
struct utf8_block {
    __m128i low;
    __m128i high;
    __m128i keep;
    unsigned consumed;
};

// Decodes the 16 bytes at p as described for utf8_mixed_block; false when
// anything among them is malformed or cut. Reads p[0..18].
inline bool decode_utf8_block(const unsigned char* p, utf8_block& block) noexcept {
    const auto load = [](const unsigned char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    const __m128i v0 = load(p);
    const __m128i v1 = load(p + 1);
    const __m128i v2 = load(p + 2);
    const __m128i v3 = load(p + 3);
    // Signed bytes: 80..BF are below -64; C0..FF above -65, E0.. above -33,
    // F0.. above -17 (and so is ASCII, which the sign tells apart).
    const __m128i cont = _mm_cmplt_epi8(v0, _mm_set1_epi8(-64));
    const __m128i lead = _mm_cmpgt_epi8(v0, _mm_set1_epi8(-65));
    const __m128i bad = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(lead, _mm_cmplt_epi8(v0, _mm_set1_epi8(-62))),  // C0, C1
                     _mm_and_si128(_mm_cmpgt_epi8(v0, _mm_set1_epi8(-12)), v0)),   // F5..FF
        _mm_or_si128(
            _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(v0, _mm_set1_epi8(-32)), _mm_cmplt_epi8(v1, _mm_set1_epi8(-96))),
                         _mm_and_si128(_mm_cmpeq_epi8(v0, _mm_set1_epi8(-19)), _mm_cmpgt_epi8(v1, _mm_set1_epi8(-97)))),
            _mm_or_si128(
                _mm_and_si128(_mm_cmpeq_epi8(v0, _mm_set1_epi8(-16)), _mm_cmplt_epi8(v1, _mm_set1_epi8(-112))),
                _mm_and_si128(_mm_cmpeq_epi8(v0, _mm_set1_epi8(-12)), _mm_cmpgt_epi8(v1, _mm_set1_epi8(-113))))));
    // E0 80..9F and F0 80..8F are overlong, ED A0..BF a surrogate, F4 90..BF too big.
    const std::uint32_t c =
        static_cast<std::uint32_t>(_mm_movemask_epi8(cont)) |
        ((static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(v3, _mm_set1_epi8(-64)))) >> 13) << 16);
    const std::uint32_t non_ascii = static_cast<std::uint32_t>(_mm_movemask_epi8(v0));
    const std::uint32_t l = static_cast<std::uint32_t>(_mm_movemask_epi8(lead)) & non_ascii;
    const std::uint32_t l3 = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(v0, _mm_set1_epi8(-33)))) &
                             non_ascii;
    const std::uint32_t l4 = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(v0, _mm_set1_epi8(-17)))) &
                             non_ascii;
    // Where continuation bytes belong: after every lead, two after a three-
    // or four-byte one, three after a four-byte one. Among the 16 they must
    // be exactly the continuation bytes; after them, continuation bytes.
    const std::uint32_t expected = (l << 1) | (l3 << 2) | (l4 << 3);
    if ((((expected ^ c) & (0xFFFFu | expected)) | static_cast<std::uint32_t>(_mm_movemask_epi8(bad))) != 0)
        return false;

    const __m128i zero = _mm_setzero_si128();
    const auto units_of = [](__m128i b0, __m128i b1, __m128i b2) {
        const __m128i t2 = _mm_and_si128(b2, _mm_set1_epi16(0x3F));
        // The lead's bits and the first continuation's: for a lead of two
        // bytes its unit; of three, the unit's top ten bits (the 16-bit shift
        // drops the lead's marker); of four, what the high surrogate holds.
        const __m128i s = _mm_or_si128(_mm_slli_epi16(b0, 6), _mm_and_si128(b1, _mm_set1_epi16(0x3F)));
        const __m128i two = _mm_and_si128(s, _mm_set1_epi16(0x7FF));
        const __m128i three = _mm_or_si128(_mm_slli_epi16(s, 6), t2);
        const __m128i four = _mm_add_epi16(
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(s, _mm_set1_epi16(0x1FF)), 2), _mm_srli_epi16(t2, 4)),
            _mm_set1_epi16(static_cast<short>(0xD7C0)));
        // In the lane of a four-byte character's second byte: the low surrogate.
        __m128i u = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(s, _mm_set1_epi16(0xF)), 6), t2),
                                 _mm_set1_epi16(static_cast<short>(0xDC00)));
        const auto pick = [&u](__m128i mask, __m128i value) {
            u = _mm_or_si128(_mm_and_si128(mask, value), _mm_andnot_si128(mask, u));
        };
        pick(_mm_cmpgt_epi16(b0, _mm_set1_epi16(0xBF)), two);
        pick(_mm_cmpgt_epi16(b0, _mm_set1_epi16(0xDF)), three);
        pick(_mm_cmpgt_epi16(b0, _mm_set1_epi16(0xEF)), four);
        pick(_mm_cmplt_epi16(b0, _mm_set1_epi16(0x80)), b0);
        return u;
    };
    block.low = units_of(_mm_unpacklo_epi8(v0, zero), _mm_unpacklo_epi8(v1, zero), _mm_unpacklo_epi8(v2, zero));
    block.high = units_of(_mm_unpackhi_epi8(v0, zero), _mm_unpackhi_epi8(v1, zero), _mm_unpackhi_epi8(v2, zero));
    // Every byte but continuations begins a unit, and so does the second
    // byte of a four-byte character; one that starts at the last byte waits
    // for the next block.
    const __m128i l4v = _mm_and_si128(_mm_cmpgt_epi8(v0, _mm_set1_epi8(-17)), _mm_cmplt_epi8(v0, zero));
    const __m128i last_four = _mm_slli_si128(_mm_srli_si128(l4v, 15), 15);
    block.keep = _mm_andnot_si128(
        last_four, _mm_or_si128(_mm_andnot_si128(cont, _mm_cmpeq_epi8(zero, zero)), _mm_slli_si128(l4v, 1)));
    // The characters that start among the 16 end up to three bytes after them.
    const std::uint32_t over = expected >> 16;
    block.consumed = (l4 & 0x8000u) != 0 ? 15 : 16 + (over & 1u) + ((over >> 1) & 1u) + (over >> 2);
    return true;
}

inline unsigned utf8_mixed_block(const unsigned char* p, wide_char* out, unsigned& produced) noexcept {
    utf8_block block;
    if (!decode_utf8_block(p, block)) return 0;
    produced = put_selected_units(block.low, block.high, block.keep, out, std::make_index_sequence<16>());
    return block.consumed;
}

struct sse2_utf8_steps {
    static unsigned mixed(const unsigned char* p, wide_char* out, unsigned& produced) noexcept {
        return utf8_mixed_block(p, out, produced);
    }

    // ASCII, 32 bytes a step.
    static void ascii_run(const unsigned char*& p, const unsigned char* limit, wide_char*& out,
                          std::size_t& remaining) noexcept {
        constexpr std::size_t scratch_room = utf8_to_utf16_limits::scratch_room;
        const __m128i zero = _mm_setzero_si128();
        while (limit - p > 16 && remaining >= scratch_room + 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
            if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(a, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(a, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpacklo_epi8(b, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm_unpackhi_epi8(b, zero));
            p += 32;
            out += 32;
            remaining -= 32;
        }
    }

    static bool three_byte_run(const unsigned char*& p, const unsigned char*, wide_char*& out,
                               std::size_t& remaining) noexcept {
        // Eight three-byte characters at a time when they come in a row.
        __m128i valid_low;
        __m128i valid_high;
        const __m128i low = widen_three_byte_quad(p, valid_low);
        const __m128i high = widen_three_byte_quad(p + 12, valid_high);
        if (_mm_movemask_epi8(_mm_and_si128(valid_low, valid_high)) == 0xFFFF) {
            // Pack to 16 bits with signed saturation, by way of an offset.
            const __m128i offset = _mm_set1_epi32(0x8000);
            const __m128i units = _mm_xor_si128(
                _mm_packs_epi32(_mm_sub_epi32(low, offset), _mm_sub_epi32(high, offset)), _mm_set1_epi16(-0x8000));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), units);
            p += 24;
            out += 8;
            remaining -= 8;
            return true;
        }
        return false;
    }
};

// The main loop: runs while scratch_tail bytes are left after p and the room
// keeps its margin; the scalar loop takes the rest.
template <typename Steps>
inline void sse2_utf8_to_utf16_main_loop(conversion<wide_char, char>& conv) noexcept {
    constexpr std::size_t scratch_room = utf8_to_utf16_limits::scratch_room;
    const unsigned char* const end = reinterpret_cast<const unsigned char*>(conv.end);
    if (static_cast<std::size_t>(conv.end - conv.in) <= utf8_to_utf16_limits::scratch_tail) return;
    const unsigned char* const limit = end - utf8_to_utf16_limits::scratch_tail;
    // Locals, so that the compiler need not fear that a store through out
    // changes them.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(conv.in);
    wide_char* out = conv.out;
    std::size_t remaining = conv.room;
    const __m128i zero = _mm_setzero_si128();
    while (p < limit && remaining >= scratch_room) {
        const unsigned b0 = *p;
        // A lone ASCII byte (a space between emoji) goes with what follows it.
        if (b0 < 0x80u && p[1] < 0x80u) {
            // Widen 16 bytes at a time, and after two whole blocks 32 at a
            // time (a long run is likely to go on; a short one, as between
            // the accents of French, would mispredict the longer step's
            // exit); of the last block keep the units up to the first
            // non-ASCII byte.
            // Text like French, with an accent every few words, switches to
            // a mode where a block with at most one two-byte character takes
            // one path whatever it holds, so that no branch depends on
            // whether there is an accent; four blocks of ASCII alone in a
            // row switch back.
            unsigned ascii_blocks = 4;  // 4: blocks of ASCII alone go the short way
            for (unsigned whole_blocks = 0;;) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const std::uint32_t mask = static_cast<std::uint32_t>(_mm_movemask_epi8(v));
                const unsigned k = lowest_set_bit(mask | 0x10000u);  // 16: none
                // One two-byte character at k, or none: p[16] and p[17] are
                // inside the margin.
                const bool at_most_one = (mask == 0) | ((mask == (3u << k)) & (p[k] - 0xC2u < 0x1Eu) &
                                                        is_continuation_byte(p[k + 1]));
                if (ascii_blocks < 4 && at_most_one) {
                    // The units after the character move one place down;
                    // with none, the selection keeps the whole block.
                    const __m128i next = _mm_srli_si128(v, 1);
                    const __m128i at = _mm_set1_epi16(static_cast<short>(k));
                    const __m128i low = _mm_cmplt_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), at);
                    const __m128i high = _mm_cmplt_epi16(_mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15), at);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                                     _mm_or_si128(_mm_and_si128(low, _mm_unpacklo_epi8(v, zero)),
                                                  _mm_andnot_si128(low, _mm_unpacklo_epi8(next, zero))));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8),
                                     _mm_or_si128(_mm_and_si128(high, _mm_unpackhi_epi8(v, zero)),
                                                  _mm_andnot_si128(high, _mm_unpackhi_epi8(next, zero))));
                    out[k] = static_cast<wide_char>(((p[k] & 0x1Fu) << 6) |
                                                    (p[k + 1] & 0x3Fu));  // past the end when none
                    const std::size_t produced = 16 - (k < 16 ? 1 : 0);
                    ascii_blocks = mask == 0 ? ascii_blocks + 1 : 0;
                    p += 16;
                    out += produced;
                    remaining -= produced;
                    if (p >= limit || remaining < scratch_room) break;
                    continue;
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
                if (mask != 0) {
                    if (at_most_one) {
                        ascii_blocks = 0;  // the first accent: from the next block on, the mode above
                    }
                    p += k;
                    out += k;
                    remaining -= k;
                    // A two-byte character after the run (an accent) is
                    // taken here, and the run goes on after it.
                    const unsigned lead = p[0];
                    if (lead - 0xC2u < 0x1Eu && is_continuation_byte(p[1])) {
                        *out++ = static_cast<wide_char>(((lead & 0x1Fu) << 6) | (p[1] & 0x3Fu));
                        p += 2;
                        --remaining;
                        whole_blocks = 0;
                        if (p >= limit || remaining < scratch_room) break;
                        continue;
                    }
                    break;
                }
                p += 16;
                out += 16;
                remaining -= 16;
                if (++whole_blocks >= 2) {
                    Steps::ascii_run(p, limit, out, remaining);
                }
                if (p >= limit || remaining < scratch_room) break;
            }
            continue;
        }
        if ((b0 & 0xF0u) == 0xE0u && Steps::three_byte_run(p, limit, out, remaining)) continue;
        {
            unsigned produced = 0;
            const unsigned used = Steps::mixed(p, out, produced);
            if (used != 0) {
                p += used;
                out += produced;
                remaining -= produced;
                continue;
            }
        }
        if (b0 < 0x80u) {
            *out++ = static_cast<wide_char>(b0);
            ++p;
            --remaining;
            continue;
        }
        const std::uint32_t w = load_bytes4(p);
        if ((w & 0xC0C0F0u) == 0x8080E0u) {  // 1110xxxx 10xxxxxx 10xxxxxx
            const code_point c = ((w & 0x0Fu) << 12) | ((w >> 2) & 0x0FC0u) | ((w >> 16) & 0x3Fu);
            if (c >= 0x800u && (c & 0xF800u) != 0xD800u) {  // neither overlong nor a surrogate
                *out++ = static_cast<wide_char>(c);
                p += 3;
                --remaining;
                continue;
            }
        } else if ((w & 0xC0E0u) == 0x80C0u) {  // 110xxxxx 10xxxxxx
            if (b0 >= 0xC2u) {                  // not overlong
                *out++ = static_cast<wide_char>(((w & 0x1Fu) << 6) | ((w >> 8) & 0x3Fu));
                p += 2;
                --remaining;
                continue;
            }
        } else if ((w & 0xC0C0C0F8u) == 0x808080F0u) {  // 11110xxx and three continuations
            const code_point c = ((w & 0x07u) << 18) | ((w << 4) & 0x3F000u) | ((w >> 10) & 0x0FC0u) |
                                 ((w >> 24) & 0x3Fu);
            if (c - 0x10000u < 0x100000u) {  // neither overlong nor above U+10FFFF
                const code_point v = c - 0x10000u;
                out[0] = static_cast<wide_char>(0xD800u | (v >> 10));
                out[1] = static_cast<wide_char>(0xDC00u | (v & 0x3FFu));
                out += 2;
                p += 4;
                remaining -= 2;
                continue;
            }
        }
        // Malformed or cut short: the codec decides what the sequence takes.
        const code_point c = decode_or_replace<utf8_codec>(p, end);
        out = utf16_codec::encode(c, out);
        remaining -= static_cast<std::size_t>(utf16_codec::width(c));
    }
    conv.in = reinterpret_cast<const char*>(p);
    conv.out = out;
    conv.room = remaining;
}

// The steps of a kernel built on these: the main loop, not even called for
// a text within its margin (a file name), which is the scalar loop's alone,
// inline.
template <typename Steps>
WEXAL_STEP_INLINE void sse2_utf8_to_utf16_steps(conversion<wide_char, char>& conv) noexcept {
    if (static_cast<std::size_t>(conv.end - conv.in) > utf8_to_utf16_limits::scratch_tail)
        sse2_utf8_to_utf16_main_loop<Steps>(conv);
    else
        scalar_loop_inline(conv);
}
