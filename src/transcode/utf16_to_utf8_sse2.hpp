// The SSE2 steps from UTF-16 to UTF-8, on which the SSSE3 and AVX2 kernels
// build: the SSE2 kernel's file includes this header inside its region, and
// so do theirs, each for its own instruction set.
//
// The main loop keeps the margins of utf16_to_utf8_limits, as the steps from
// UTF-8 do theirs: ASCII 16 or 32 units at a time; text below 0x800 (Latin,
// Greek, Cyrillic) 16 units a step; three-byte units (CJK) eight at a time;
// blocks of any width whose surrogates are paired in one go; an unpaired
// surrogate through the codec. The last scratch_tail units, and what a room
// too small for the margin leaves, are the scalar loop's.
//
// A kernel built on these steps names them in a struct (Steps below) with
// five members, the SSE2 ones or wider ones of its own:
//   static unsigned mixed(const wide_char* p, char* out, unsigned& produced)
//       eight units of any widths at p, as utf16_mixed_block;
//   static void ascii_run(const wide_char*& p, const wide_char* limit, char*& out, std::size_t& remaining)
//       ASCII while it lasts and the margins allow;
//   static char* two_byte_units(const wide_char* p, __m128i a, __m128i b, char* out)
//       the 16 units a, b at p, all below 0x800, as one or two bytes each
//       (storing up to 32 bytes); returns the end of the bytes;
//   static bool three_byte_run(const wide_char*& p, const wide_char* limit, char*& out, std::size_t& remaining)
//       units from 0x800 while no surrogate comes; false when it took none;
//   static bool wide_run(const wide_char*& p, const wide_char* limit, char*& out, std::size_t& remaining)
//       tried first from any unit that is not ASCII: units of any widths;
//       false when it took none (SSE2 has none: always false).
// Deriving from sse2_utf16_steps takes the SSE2 member wherever a kernel has
// no wider one.
//
// No include guard: included once per kernel file, inside its namespace.

// Eight units below 0x800 as UTF-8: one byte for ASCII, two otherwise.
// Units go out in pairs, and pairs two at a time where 64-bit words are at
// hand, each as one store, so up to four bytes past the result may be
// written (the next store overwrites them).
inline char* narrow_two_byte_block(__m128i v, char* out) noexcept {
    const __m128i non_ascii = _mm_cmpgt_epi16(v, _mm_set1_epi16(0x7F));
    const __m128i lead = _mm_or_si128(_mm_srli_epi16(v, 6), _mm_set1_epi16(0xC0));
    const __m128i trail = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
    const __m128i pairs = _mm_or_si128(lead, _mm_slli_epi16(trail, 8));
    // Each 16-bit lane: the unit's bytes, the first in the low half.
    const __m128i lanes = _mm_or_si128(_mm_and_si128(non_ascii, pairs), _mm_andnot_si128(non_ascii, v));
    // Each 32-bit lane: two units' bytes, closed up when the first is ASCII.
    const __m128i first_wide = _mm_srai_epi32(_mm_slli_epi32(non_ascii, 16), 16);
    const __m128i closed = _mm_or_si128(_mm_and_si128(lanes, _mm_set1_epi32(0xFF)),
                                        _mm_and_si128(_mm_srli_epi32(lanes, 8), _mm_set1_epi32(0xFFFF00)));
    const __m128i joined = _mm_or_si128(_mm_and_si128(first_wide, lanes), _mm_andnot_si128(first_wide, closed));
    const unsigned wide = static_cast<unsigned>(_mm_movemask_epi8(non_ascii));
    // Two pairs at a time: the second closed up to the first, one eight-byte
    // store of four to eight bytes (so up to four more may be written).
    const auto put = [&out](std::uint64_t pairs_bytes, unsigned widths) {
        const unsigned first_size = 2 + (widths & 1u) + ((widths >> 2) & 1u);
        const unsigned second_size = 2 + ((widths >> 4) & 1u) + ((widths >> 6) & 1u);
        const std::uint64_t bytes = (pairs_bytes & 0xFFFFFFFFu) | ((pairs_bytes >> 32) << (8 * first_size));
        std::memcpy(out, &bytes, 8);  // x86 is little-endian: the first byte first
        out += first_size + second_size;
    };
    put(static_cast<std::uint64_t>(_mm_cvtsi128_si64(joined)), wide);
    put(static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(joined, joined))), wide >> 8);
    return out;
}

// Four units from 0x800 to 0xFFFF, zero-extended to 32 bits each, as twelve
// bytes of UTF-8; the store reaches four bytes further.
inline char* narrow_three_byte_quad(__m128i x, char* out) noexcept {
    const __m128i b0 = _mm_srli_epi32(x, 12);
    const __m128i b1 = _mm_and_si128(_mm_slli_epi32(x, 2), _mm_set1_epi32(0x3F00));
    const __m128i b2 = _mm_and_si128(_mm_slli_epi32(x, 16), _mm_set1_epi32(0x3F0000));
    const __m128i bytes = _mm_or_si128(_mm_or_si128(b0, b1), _mm_or_si128(b2, _mm_set1_epi32(0x8080E0)));
    // Each 64-bit lane: its two three-byte groups side by side.
    const __m128i pairs = _mm_or_si128(
        _mm_and_si128(bytes, _mm_set_epi32(0, -1, 0, -1)),
        _mm_and_si128(_mm_srli_epi64(bytes, 8), _mm_set_epi32(0xFFFF, -0x1000000, 0xFFFF, -0x1000000)));
    // Both lanes' six bytes side by side.
    const __m128i twelve = _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), twelve);
    return out + 12;
}

// Eight units of any kind, in one go when no surrogate among them is
// unpaired: each unit's lane computes the bytes of its character (a high
// surrogate those of the pair, its low surrogate none), and they are stored
// four at a time, each store at the end of the previous character's bytes.
// Reads p[0..8]; writes out[0..produced + 3], of which the bytes after the
// result are left over (what follows overwrites them). Returns the units
// consumed (8, or 9 when the last is a high surrogate whose low one follows)
// and sets produced; 0 when a surrogate is unpaired.
// The bytes of such a block, lane by lane (first: a unit's first two
// bytes, second: the next two), the widths and where the surrogates are.
struct utf16_block {
    __m128i first;
    __m128i second;
    __m128i width;
    __m128i high;
    __m128i low;
    std::uint32_t highs;  // one bit per lane
};

// Decodes the 8 units at p as described for utf16_mixed_block; false when a
// surrogate is unpaired. Reads p[0..8].
inline bool decode_utf16_block(const wide_char* p, utf16_block& block) noexcept {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i fc00 = _mm_set1_epi16(static_cast<short>(0xFC00));
    const __m128i high = _mm_cmpeq_epi16(_mm_and_si128(x, fc00), _mm_set1_epi16(static_cast<short>(0xD800)));
    const __m128i low = _mm_cmpeq_epi16(_mm_and_si128(x, fc00), _mm_set1_epi16(static_cast<short>(0xDC00)));
    const __m128i low_next = _mm_cmpeq_epi16(_mm_and_si128(y, fc00), _mm_set1_epi16(static_cast<short>(0xDC00)));
    const std::uint32_t hl = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(high, low)));
    const std::uint32_t h = hl & 0xFFu;
    const std::uint32_t lows = (hl >> 8) | ((static_cast<std::uint32_t>(_mm_movemask_epi8(low_next)) >> 15) << 8);
    // Low surrogates exactly after the high ones (a ninth after the eighth).
    if (((h << 1) ^ lows) & (0xFFu | (h << 1))) return false;
    block.highs = h;
    block.high = high;
    block.low = low;

    // The widths: 1, plus one from 0x80, one from 0x800, one for a high
    // surrogate (4 for the pair), and a low surrogate none.
    const __m128i from_0x80 = _mm_srai_epi16(_mm_adds_epu16(x, _mm_set1_epi16(0x7F80)), 15);
    const __m128i from_0x800 = _mm_srai_epi16(_mm_adds_epu16(x, _mm_set1_epi16(0x7800)), 15);
    block.width = _mm_add_epi16(
        _mm_sub_epi16(_mm_sub_epi16(_mm_sub_epi16(_mm_set1_epi16(1), from_0x80), from_0x800), high),
        _mm_and_si128(low, _mm_set1_epi16(-3)));

    // Each unit's first two bytes and its next two, in 16-bit lanes: ASCII
    // itself; two bytes; three bytes (the third comes after); a high
    // surrogate the four of the pair.
    const __m128i six = _mm_set1_epi16(0x3F);
    const __m128i trail = _mm_or_si128(_mm_and_si128(x, six), _mm_set1_epi16(0x80));
    const __m128i middle = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 6), six), _mm_set1_epi16(0x80));
    const __m128i two = _mm_or_si128(_mm_or_si128(_mm_srli_epi16(x, 6), _mm_set1_epi16(0xC0)),
                                     _mm_slli_epi16(trail, 8));
    const __m128i three = _mm_or_si128(_mm_or_si128(_mm_srli_epi16(x, 12), _mm_set1_epi16(0xE0)),
                                       _mm_slli_epi16(middle, 8));
    // The pair's code point less 0x10000 is v (its top 11 bits) and y's low 10.
    const __m128i v = _mm_add_epi16(_mm_and_si128(x, _mm_set1_epi16(0x3FF)), _mm_set1_epi16(0x40));
    const __m128i four_first = _mm_or_si128(
        _mm_or_si128(_mm_srli_epi16(v, 8), _mm_set1_epi16(static_cast<short>(0x80F0))),
        _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(v, 2), six), 8));
    const __m128i four_second = _mm_or_si128(
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(3)), 4),
                     _mm_and_si128(_mm_srli_epi16(y, 6), _mm_set1_epi16(0xF))),
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(y, six), 8), _mm_set1_epi16(static_cast<short>(0x8080))));
    const auto pick = [](__m128i m, __m128i value, __m128i other) {
        return _mm_or_si128(_mm_and_si128(m, value), _mm_andnot_si128(m, other));
    };
    block.first = pick(high, four_first, pick(from_0x800, three, pick(from_0x80, two, x)));
    block.second = pick(high, four_second, trail);
    return true;
}

inline unsigned utf16_mixed_block(const wide_char* p, char* out, unsigned& produced) noexcept {
    utf16_block block;
    if (!decode_utf16_block(p, block)) return 0;
    alignas(16) std::uint16_t widths[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(widths), block.width);
    alignas(16) std::uint32_t words[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(words), _mm_unpacklo_epi16(block.first, block.second));
    _mm_store_si128(reinterpret_cast<__m128i*>(words + 4), _mm_unpackhi_epi16(block.first, block.second));
    char* const start = out;
    for (unsigned i = 0; i < 8; ++i) {
        std::memcpy(out, &words[i], 4);  // x86 is little-endian: the first byte first
        out += widths[i];
    }
    produced = static_cast<unsigned>(out - start);
    return 8 + (block.highs >> 7);
}

struct sse2_utf16_steps {
    static unsigned mixed(const wide_char* p, char* out, unsigned& produced) noexcept {
        return utf16_mixed_block(p, out, produced);
    }

    // ASCII, 32 units a step.
    static void ascii_run(const wide_char*& p, const wide_char* limit, char*& out, std::size_t& remaining) noexcept {
        constexpr std::size_t scratch_room = utf16_to_utf8_limits::scratch_room;
        const __m128i from_0x80 = _mm_set1_epi16(0x7F80);
        while (limit - p > 16 && remaining >= scratch_room + 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 24));
            const __m128i all = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
            if ((_mm_movemask_epi8(_mm_adds_epu16(all, from_0x80)) & 0xAAAA) != 0) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_packus_epi16(c, d));
            p += 32;
            out += 32;
            remaining -= 32;
        }
    }

    static char* two_byte_units(const wide_char* p, __m128i a, __m128i b, char* out) noexcept {
        const __m128i from_0x80 = _mm_set1_epi16(0x7F80);
        const std::uint32_t wide = (static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_adds_epu16(a, from_0x80))) |
                                    (static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_adds_epu16(b, from_0x80)))
                                     << 16)) &
                                   0xAAAAAAAAu;
        if ((wide & (wide - 1)) == 0) {
            // At most one two-byte character, at k (16: none): the
            // bytes before it as they are, the bytes after it one
            // place further on, then its two bytes in the gap.
            const unsigned k = (lowest_set_bit((wide >> 1) | 0x80000000u) + 1) / 2;
            const __m128i packed = _mm_packus_epi16(a, b);
            const __m128i before = _mm_cmplt_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                                  _mm_set1_epi8(static_cast<char>(k)));
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(out),
                _mm_or_si128(_mm_and_si128(before, packed), _mm_andnot_si128(before, _mm_slli_si128(packed, 1))));
            out[16] = static_cast<char>(p[15]);
            const unsigned u2 = static_cast<std::uint16_t>(p[k]);  // p[16] when none
            out[k] = static_cast<char>(0xC0u | (u2 >> 6));
            out[k + 1] = static_cast<char>(0x80u | (u2 & 0x3Fu));
            out += 16 + (k < 16 ? 1 : 0);
        } else {
            out = narrow_two_byte_block(b, narrow_two_byte_block(a, out));
        }
        return out;
    }

    static bool wide_run(const wide_char*&, const wide_char*, char*&, std::size_t&) noexcept { return false; }

    static bool three_byte_run(const wide_char*& p, const wide_char*, char*& out, std::size_t& remaining) noexcept {
        const __m128i zero = _mm_setzero_si128();
        // Eight three-byte characters at a time when they come in a row.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i top = _mm_and_si128(v, _mm_set1_epi16(-0x800));
        const __m128i outside = _mm_or_si128(_mm_cmpeq_epi16(top, zero), _mm_cmpeq_epi16(top, _mm_set1_epi16(-0x2800)));
        if (_mm_movemask_epi8(outside) == 0) {
            out = narrow_three_byte_quad(_mm_unpackhi_epi16(v, zero),
                                         narrow_three_byte_quad(_mm_unpacklo_epi16(v, zero), out));
            p += 8;
            remaining -= 24;
            return true;
        }
        return false;
    }
};

// The main loop: runs while scratch_tail units are left after p and the room
// keeps its margin; the scalar loop takes the rest.
template <typename Steps>
inline void sse2_utf16_to_utf8_main_loop(conversion<char, wide_char>& conv) noexcept {
    constexpr std::size_t scratch_room = utf16_to_utf8_limits::scratch_room;
    const wide_char* const end = conv.end;
    if (static_cast<std::size_t>(end - conv.in) <= utf16_to_utf8_limits::scratch_tail) return;
    const wide_char* const limit = end - utf16_to_utf8_limits::scratch_tail;
    // Locals: a store through a char pointer could change anything else.
    const wide_char* p = conv.in;
    char* out = conv.out;
    std::size_t remaining = conv.room;
    // Adding with unsigned saturation sets the top bit of every unit of 0x80
    // (0x800) or more, and of no other.
    const __m128i from_0x80 = _mm_set1_epi16(0x7F80);
    const __m128i from_0x800 = _mm_set1_epi16(0x7800);
    while (p < limit && remaining >= scratch_room) {
        const unsigned u = static_cast<std::uint16_t>(*p);
        // A short run of ASCII (a space between emoji) goes with what follows it.
        if (u < 0x80u && (load_u64(p) & 0xFF80FF80FF80FF80u) == 0) {
            // 16 units at a time while they are all below 0x800; of the last
            // block keep the bytes up to the first unit that is not ASCII.
            // Blocks of ASCII alone are narrowed in one go. Once a block with
            // two-byte characters comes, every block takes the two-byte path
            // until four in a row were ASCII alone: in text like French, which
            // has an accent every few words, that saves a mispredicted branch
            // per block.
            unsigned ascii_blocks = 4;  // 4: blocks of ASCII alone go the short way
            for (;;) {
                if (ascii_blocks == 4) {
                    // ASCII alone, 32 units at a time.
                    Steps::ascii_run(p, limit, out, remaining);
                    if (p >= limit || remaining < scratch_room) break;
                }
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
                const __m128i both = _mm_or_si128(a, b);
                const bool ascii = (_mm_movemask_epi8(_mm_adds_epu16(both, from_0x80)) & 0xAAAA) == 0;
                if (ascii && ascii_blocks == 4) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
                    p += 16;
                    out += 16;
                    remaining -= 16;
                } else if ((_mm_movemask_epi8(_mm_adds_epu16(both, from_0x800)) & 0xAAAA) == 0) {
                    ascii_blocks = ascii ? ascii_blocks + 1 : 0;
                    char* const start = out;
                    out = Steps::two_byte_units(p, a, b, out);
                    p += 16;
                    remaining -= static_cast<std::size_t>(out - start);
                } else {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
                    const std::uint32_t mask =
                        (static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_adds_epu16(a, from_0x80))) |
                         (static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_adds_epu16(b, from_0x80))) << 16)) &
                        0xAAAAAAAAu;
                    const std::size_t k = lowest_set_bit(mask) / 2;
                    p += k;
                    out += k;
                    remaining -= k;
                    break;
                }
                if (p >= limit || remaining < scratch_room) break;
            }
            continue;
        }
        if (Steps::wide_run(p, limit, out, remaining)) continue;
        const unsigned u1 = static_cast<std::uint16_t>(p[1]);
        if ((u - 0x800u < 0xD000u || u >= 0xE000u) && (u1 - 0x800u < 0xD000u || u1 >= 0xE000u)) {
            if (Steps::three_byte_run(p, limit, out, remaining)) continue;
        }
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
        if (u < 0x80u) {
            *out++ = static_cast<char>(u);
            ++p;
            --remaining;
            continue;
        }
        if (u < 0x800u) {
            out[0] = static_cast<char>(0xC0u | (u >> 6));
            out[1] = static_cast<char>(0x80u | (u & 0x3Fu));
            out += 2;
            ++p;
            remaining -= 2;
            continue;
        }
        if (u - 0xD800u >= 0x800u) {  // not a surrogate
            out[0] = static_cast<char>(0xE0u | (u >> 12));
            out[1] = static_cast<char>(0x80u | ((u >> 6) & 0x3Fu));
            out[2] = static_cast<char>(0x80u | (u & 0x3Fu));
            out += 3;
            ++p;
            remaining -= 3;
            continue;
        }
        const unsigned u2 = static_cast<std::uint16_t>(p[1]);
        if (u < 0xDC00u && u2 - 0xDC00u < 0x400u) {
            const code_point c = utf16_codec::join_surrogates(u, u2);
            out[0] = static_cast<char>(0xF0u | (c >> 18));
            out[1] = static_cast<char>(0x80u | ((c >> 12) & 0x3Fu));
            out[2] = static_cast<char>(0x80u | ((c >> 6) & 0x3Fu));
            out[3] = static_cast<char>(0x80u | (c & 0x3Fu));
            out += 4;
            p += 2;
            remaining -= 4;
            continue;
        }
        // An unpaired surrogate: the codec decides what it takes.
        const code_point c = decode_or_replace<utf16_codec>(p, end);
        out = utf8_codec::encode(c, out);
        remaining -= static_cast<std::size_t>(utf8_codec::width(c));
    }
    conv.in = p;
    conv.out = out;
    conv.room = remaining;
}

// The steps of a kernel built on these: the main loop, not even called for
// a text within its margin (a file name), which is the scalar loop's alone,
// inline.
template <typename Steps>
WEXAL_STEP_INLINE void sse2_utf16_to_utf8_steps(conversion<char, wide_char>& conv) noexcept {
    if (static_cast<std::size_t>(conv.end - conv.in) > utf16_to_utf8_limits::scratch_tail)
        sse2_utf16_to_utf8_main_loop<Steps>(conv);
    else
        scalar_loop_inline(conv);
}
