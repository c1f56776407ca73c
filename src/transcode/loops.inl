// The conversion loops, compiled once per kernel: each kernel's file opens
// its instruction set's target region, opens a namespace of its own, sets
// WEXAL_TRANSCODE_SSE2 (0: plain C++, the portable kernel; 1: SSE2 and up)
// and includes this file, so that every loop and every helper here is built
// for that instruction set and no two kernels share an inline function.
//
// The results are those of the plain loop (transcode_reference.hpp), unit for
// unit, capacity behaviour included; only the speed differs.
//
// How it goes fast:
// - The main loop keeps a margin of input and of room. With the margin it
//   may load a whole block (16 or 32 units) or a 32-bit word without looking
//   at the end, and may store a whole block although only its first k units
//   are final: the units after them are overwritten by what the rest of the
//   input produces, since that is at least the margin's worth, and the buffer
//   cannot fill up before (see bulk_room below).
// - Blocks: ASCII both ways; three-byte characters (CJK) eight at a time
//   both ways; in UTF-8, a block with one two-byte character (an accent) in
//   one go; mixed blocks of any width through the kernel's Blocks.
// - The last stretch of the input (all of a short file name) goes through a
//   copy followed by zeros, so that blocks may read past its end.
// - Well-formed sequences are decoded inline; anything else goes through the
//   codec's own decoder, so a bad sequence consumes exactly what the codec
//   says it does, and the blocks take over again right after it.
// - Once the room left is below what the widest character needs, the plain
//   loop finishes, so the point at which a full buffer stops is the same.
// Loads never reach outside [begin, end) and stores never outside the units
// the plain loop writes.

#if WEXAL_TRANSCODE_SSE2
// Index of the lowest set bit; mask must not be 0.
inline unsigned lowest_set_bit(std::uint32_t mask) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    return static_cast<unsigned>(__builtin_ctz(mask));
#elif defined(_MSC_VER)
    unsigned long index = 0;
    _BitScanForward(&index, mask);
    return static_cast<unsigned>(index);
#else
    unsigned index = 0;
    for (; (mask & 1u) == 0; mask >>= 1) ++index;
    return index;
#endif
}
#endif

inline bool is_continuation_byte(unsigned b) noexcept { return (b & 0xC0u) == 0x80u; }

inline std::uint64_t load_u64(const void* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Four bytes as one word, the first in the low bits, on any byte order.
inline std::uint32_t load_bytes4(const unsigned char* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// ---------------------------------------------------------------- UTF-8 to UTF-16

struct utf8_to_utf16_limits {
    // The main loop runs while this much room is left: the stores of a step
    // reach at most 16 units from where it starts (32 for a double block,
    // which asks for 16 more), and the plain loop stops at most one unit
    // short of the capacity.
    static constexpr std::size_t bulk_room = 18;
    // The main loop stops this many bytes before the end. n bytes give at
    // least n / 4 units, so the rest of the input covers every unit a block
    // store leaves behind, and every load stays inside the input.
    static constexpr std::size_t tail_size = 64;
};

#if WEXAL_TRANSCODE_SSE2
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
#endif

// The mixed blocks the main loops use: those of this header (SSE2); the
// library's kernels bring their own.
struct sse2_blocks {
#if WEXAL_TRANSCODE_SSE2
    static unsigned utf8(const unsigned char* p, wide_char* out, unsigned& produced) noexcept {
        return utf8_mixed_block(p, out, produced);
    }
    static unsigned utf16(const wide_char* p, char* out, unsigned& produced) noexcept;
#endif
};

// Whether a kernel's Blocks also bring runs of wider steps (static
// members utf8_ascii_run, utf8_three_byte_run, utf16_ascii_run,
// utf16_three_byte_run and narrow_two_byte_units, with wide_runs set; the
// AVX2 kernel's take 32 bytes at a time). The loops call them where they
// have narrower steps of their own; for the other kernels the calls compile
// away.
template <typename Blocks, typename = void>
struct has_wide_runs : std::false_type {};
template <typename Blocks>
struct has_wide_runs<Blocks, std::void_t<decltype(Blocks::wide_runs)>> : std::bool_constant<Blocks::wide_runs> {};

// The main loop. Runs while p < limit (tail_size before end) and the room
// lasts.
template <typename Blocks>
inline void utf8_to_utf16_run(const unsigned char*& cursor, const unsigned char* limit, const unsigned char* end,
                              wide_char*& out_cursor, std::size_t& room) noexcept {
    constexpr std::size_t bulk_room = utf8_to_utf16_limits::bulk_room;
    // Locals, so that the compiler need not fear that a store through out
    // changes them.
    const unsigned char* p = cursor;
    wide_char* out = out_cursor;
    std::size_t remaining = room;
#if WEXAL_TRANSCODE_SSE2
    const __m128i zero = _mm_setzero_si128();
#endif
    while (p < limit && remaining >= bulk_room) {
        const unsigned b0 = *p;
#if WEXAL_TRANSCODE_SSE2
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
                    if (p >= limit || remaining < bulk_room) break;
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
                        if (p >= limit || remaining < bulk_room) break;
                        continue;
                    }
                    break;
                }
                p += 16;
                out += 16;
                remaining -= 16;
                if (++whole_blocks >= 2) {
                    if constexpr (has_wide_runs<Blocks>::value) {
                        Blocks::utf8_ascii_run(p, limit, out, remaining);
                    } else {
                        while (limit - p > 16 && remaining >= bulk_room + 16) {
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
                }
                if (p >= limit || remaining < bulk_room) break;
            }
#else
        if (b0 < 0x80u) {
            std::size_t k = 1;
            if ((load_u64(p) & 0x8080808080808080u) == 0) k = 8;
            for (std::size_t i = 0; i < k; ++i) out[i] = static_cast<wide_char>(p[i]);
            p += k;
            out += k;
            remaining -= k;
#endif
            continue;
        }
#if WEXAL_TRANSCODE_SSE2
        if ((b0 & 0xF0u) == 0xE0u) {
            if constexpr (has_wide_runs<Blocks>::value) {
                if (Blocks::utf8_three_byte_run(p, limit, out, remaining)) continue;
            }
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
                continue;
            }
        }
#endif
#if WEXAL_TRANSCODE_SSE2
        {
            unsigned produced = 0;
            const unsigned used = Blocks::utf8(p, out, produced);
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
#endif
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
    cursor = p;
    out_cursor = out;
    room = remaining;
}

// What the main loop leaves (the last tail_size bytes, or more when the room
// runs low): the same steps without looking past end and without storing
// past the result, one character (or eight ASCII bytes) at a time. Runs while
// two units of room are left.
inline void utf8_to_utf16_tail(const unsigned char*& cursor, const unsigned char* end, wide_char*& out_cursor,
                               std::size_t& room) noexcept {
    const unsigned char* p = cursor;
    wide_char* out = out_cursor;
    std::size_t remaining = room;
    while (p != end && remaining >= 2) {
        const unsigned b0 = *p;
        const std::size_t left = static_cast<std::size_t>(end - p);
        if (b0 < 0x80u) {
            if (left >= 8 && remaining >= 8 && (load_u64(p) & 0x8080808080808080u) == 0) {
#if WEXAL_TRANSCODE_SSE2
                const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, _mm_setzero_si128()));
#else
                for (std::size_t i = 0; i < 8; ++i) out[i] = static_cast<wide_char>(p[i]);
#endif
                p += 8;
                out += 8;
                remaining -= 8;
                continue;
            }
            *out++ = static_cast<wide_char>(b0);
            ++p;
            --remaining;
            continue;
        }
        if (b0 - 0xC2u < 0x1Eu) {  // C2..DF
            if (left >= 2 && is_continuation_byte(p[1])) {
                *out++ = static_cast<wide_char>(((b0 & 0x1Fu) << 6) | (p[1] & 0x3Fu));
                p += 2;
                --remaining;
                continue;
            }
        } else if ((b0 & 0xF0u) == 0xE0u) {  // E0..EF
            if (left >= 3 && is_continuation_byte(p[1]) && is_continuation_byte(p[2])) {
                const code_point c = ((b0 & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
                if (c >= 0x800u && (c & 0xF800u) != 0xD800u) {
                    *out++ = static_cast<wide_char>(c);
                    p += 3;
                    --remaining;
                    continue;
                }
            }
        } else if (b0 - 0xF0u < 0x05u) {  // F0..F4
            if (left >= 4 && is_continuation_byte(p[1]) && is_continuation_byte(p[2]) && is_continuation_byte(p[3])) {
                const code_point c = ((b0 & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) |
                                     (p[3] & 0x3Fu);
                if (c - 0x10000u < 0x100000u) {
                    const code_point v = c - 0x10000u;
                    out[0] = static_cast<wide_char>(0xD800u | (v >> 10));
                    out[1] = static_cast<wide_char>(0xDC00u | (v & 0x3FFu));
                    out += 2;
                    p += 4;
                    remaining -= 2;
                    continue;
                }
            }
        }
        const code_point c = decode_or_replace<utf8_codec>(p, end);
        out = utf16_codec::encode(c, out);
        remaining -= static_cast<std::size_t>(utf16_codec::width(c));
    }
    cursor = p;
    out_cursor = out;
    room = remaining;
}


// Converts into room units, writing nothing past the result.
template <typename Blocks = sse2_blocks>
inline transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
                                                       const char* end) noexcept {
    using limits = utf8_to_utf16_limits;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(begin);
    const unsigned char* const e = reinterpret_cast<const unsigned char*>(end);

    if (static_cast<std::size_t>(e - p) > limits::tail_size)
        utf8_to_utf16_run<Blocks>(p, e - limits::tail_size, e, out, room);
    utf8_to_utf16_tail(p, e, out, room);
    if (p == e) return {out, end, true};
    return transcode_counted_with<utf8_codec, utf16_codec>(out, room, reinterpret_cast<const char*>(p), end);
}

// ---------------------------------------------------------------- UTF-16 to UTF-8

struct utf16_to_utf8_limits {
    // The main loop runs while this much room is left: the longest step
    // writes 32 bytes and its stores reach four bytes further (a double ASCII
    // block asks for 16 more), and the plain loop stops at most 3 bytes short
    // of the capacity.
    static constexpr std::size_t bulk_room = 40;
    // The main loop stops this many units before the end; n units give at
    // least n bytes.
    static constexpr std::size_t tail_size = 64;
};

#if WEXAL_TRANSCODE_SSE2
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
#if defined(__x86_64__) || defined(_M_X64)
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
#else
    const auto put = [&out](std::uint32_t bytes, unsigned widths) {
        std::memcpy(out, &bytes, 4);  // x86 is little-endian: the first byte first
        out += 2 + (widths & 1u) + ((widths >> 2) & 1u);
    };
    put(static_cast<std::uint32_t>(_mm_cvtsi128_si32(joined)), wide);
    put(static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(joined, 4))), wide >> 4);
    put(static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(joined, 8))), wide >> 8);
    put(static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(joined, 12))), wide >> 12);
#endif
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
#endif

#if WEXAL_TRANSCODE_SSE2
inline unsigned sse2_blocks::utf16(const wide_char* p, char* out, unsigned& produced) noexcept {
    return utf16_mixed_block(p, out, produced);
}
#endif

// The main loop, on the same terms as utf8_to_utf16_run.
template <typename Blocks>
inline void utf16_to_utf8_run(const wide_char*& cursor, const wide_char* limit, const wide_char* end, char*& out_cursor,
                              std::size_t& room) noexcept {
    constexpr std::size_t bulk_room = utf16_to_utf8_limits::bulk_room;
    // Locals: a store through a char pointer could change anything else.
    const wide_char* p = cursor;
    char* out = out_cursor;
    std::size_t remaining = room;
#if WEXAL_TRANSCODE_SSE2
    // Adding with unsigned saturation sets the top bit of every unit of 0x80
    // (0x800) or more, and of no other.
    const __m128i from_0x80 = _mm_set1_epi16(0x7F80);
    const __m128i from_0x800 = _mm_set1_epi16(0x7800);
    const __m128i zero = _mm_setzero_si128();
#endif
    while (p < limit && remaining >= bulk_room) {
        const unsigned u = static_cast<std::uint16_t>(*p);
#if WEXAL_TRANSCODE_SSE2
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
                    if constexpr (has_wide_runs<Blocks>::value) {
                        Blocks::utf16_ascii_run(p, limit, out, remaining);
                    } else {
                        while (limit - p > 16 && remaining >= bulk_room + 16) {
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
                    if (p >= limit || remaining < bulk_room) break;
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
                    const std::uint32_t wide =
                        (static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_adds_epu16(a, from_0x80))) |
                         (static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_adds_epu16(b, from_0x80))) << 16)) &
                        0xAAAAAAAAu;
                    char* const start = out;
                    if constexpr (has_wide_runs<Blocks>::value) {
                        // Any number of them in one step, with no branch on it.
                        out = Blocks::narrow_two_byte_units(a, b, out);
                    } else if ((wide & (wide - 1)) == 0) {
                        // At most one two-byte character, at k (16: none): the
                        // bytes before it as they are, the bytes after it one
                        // place further on, then its two bytes in the gap.
                        const unsigned k = (lowest_set_bit((wide >> 1) | 0x80000000u) + 1) / 2;
                        const __m128i packed = _mm_packus_epi16(a, b);
                        const __m128i before = _mm_cmplt_epi8(
                            _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                            _mm_set1_epi8(static_cast<char>(k)));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                                         _mm_or_si128(_mm_and_si128(before, packed),
                                                      _mm_andnot_si128(before, _mm_slli_si128(packed, 1))));
                        out[16] = static_cast<char>(p[15]);
                        const unsigned u2 = static_cast<std::uint16_t>(p[k]);  // p[16] when none
                        out[k] = static_cast<char>(0xC0u | (u2 >> 6));
                        out[k + 1] = static_cast<char>(0x80u | (u2 & 0x3Fu));
                        out += 16 + (k < 16 ? 1 : 0);
                    } else {
                        out = narrow_two_byte_block(b, narrow_two_byte_block(a, out));
                    }
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
                if (p >= limit || remaining < bulk_room) break;
            }
            continue;
        }
        const unsigned u1 = static_cast<std::uint16_t>(p[1]);
        if ((u - 0x800u < 0xD000u || u >= 0xE000u) && (u1 - 0x800u < 0xD000u || u1 >= 0xE000u)) {
            if constexpr (has_wide_runs<Blocks>::value) {
                if (Blocks::utf16_three_byte_run(p, limit, out, remaining)) continue;
            }
            // Eight three-byte characters at a time when they come in a row.
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i top = _mm_and_si128(v, _mm_set1_epi16(-0x800));
            const __m128i outside = _mm_or_si128(_mm_cmpeq_epi16(top, zero),
                                                 _mm_cmpeq_epi16(top, _mm_set1_epi16(-0x2800)));
            if (_mm_movemask_epi8(outside) == 0) {
                out = narrow_three_byte_quad(_mm_unpackhi_epi16(v, zero),
                                             narrow_three_byte_quad(_mm_unpacklo_epi16(v, zero), out));
                p += 8;
                remaining -= 24;
                continue;
            }
        }
        {
            unsigned produced = 0;
            const unsigned used = Blocks::utf16(p, out, produced);
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
#else
        if (u < 0x80u) {
            std::size_t k = 1;
            if ((load_u64(p) & 0xFF80FF80FF80FF80u) == 0) k = 4;
            for (std::size_t i = 0; i < k; ++i) out[i] = static_cast<char>(p[i]);
            p += k;
            out += k;
            remaining -= k;
            continue;
        }
#endif
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
    cursor = p;
    out_cursor = out;
    room = remaining;
}


// Converts into room units, writing nothing past the result.
template <typename Blocks = sse2_blocks>
inline transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin,
                                                       const wide_char* end) noexcept {
    using limits = utf16_to_utf8_limits;
    const wide_char* p = begin;
    if (static_cast<std::size_t>(end - p) > limits::tail_size)
        utf16_to_utf8_run<Blocks>(p, end - limits::tail_size, end, out, room);
    // The rest (the last tail_size units, all of a short name) goes through
    // the plain loop: here nothing measured beats it, least of all when the
    // text is not in the cache yet.
    return transcode_counted_with<utf16_codec, utf8_codec>(out, room, p, end);
}

// ---------------------------------------------------------------- Counting

// Counting what a conversion would write, without writing it: the sizes
// behind transcoded_length, and so behind widen and narrow, which size their
// string before they convert. Counting needs no stores and far fewer
// branches than converting, so it costs a fraction of the conversion.
//

// UTF-8 bytes for UTF-16 units: 1, 2 or 3 per unit below 0x80, 0x800 and
// above; a lead followed by a trail is one 4-byte character (3 + 3 - 2); an
// unpaired surrogate is U+FFFD, 3 bytes, like any unit from 0x800. Sets
// surrogates when the text holds any unit from 0xD800 to 0xDFFF.
inline std::size_t utf8_length_of(const wide_char* p, const wide_char* end, bool& surrogates) noexcept {
    std::size_t length = 0;
    surrogates = false;
#if WEXAL_TRANSCODE_SSE2
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

#if WEXAL_TRANSCODE_SSE2
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
#endif


#if !WEXAL_TRANSCODE_SSE2
// UTF-16 units for UTF-8 bytes, one sequence at a time as the conversion
// takes them; runs of ASCII eight bytes at a time.
inline std::size_t utf16_length_of(const char* p, const char* end) noexcept {
    std::size_t length = 0;
    while (p != end) {
        if (end - p >= 8 && (load_u64(p) & 0x8080808080808080u) == 0) {
            p += 8;
            length += 8;
            continue;
        }
        const code_point c = decode_or_replace<utf8_codec>(p, end);
        length += c >= 0x10000u ? 2 : 1;
    }
    return length;
}
#endif
