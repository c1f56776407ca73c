// UTF-8 to UTF-16 in the AVX-512 kernel (BW, VL and VBMI2: AMD Zen 4 and
// later, Intel Ice Lake and later), after Clausecker and Lemire's AVX-512
// transcoding.
//
// It goes in steps of 64 bytes (masked loads at the end, so a short name is
// one or two steps with no copy). A step starts where the codec begins a
// sequence and converts the characters that begin before the last lead of
// its bytes (before the end, when the end lies in them), after checking them
// exactly: the continuation bytes must be where the leads ask for them, and
// no lead may be C0, C1, F5..FF or begin an overlong form, a surrogate or a
// code point above U+10FFFF. At the first fault the step converts what comes
// before the faulty sequence and the codec takes that one sequence, so the
// result is the plain loop's and text with a few faults stays in 64-byte
// steps. Stores are masked to the units produced: nothing is written past
// the result. Bytes move across the register only by compress and 16-bit
// permutes: the kernel's choice does not ask for byte permutes (VBMI).

#define WEXAL_KERNEL avx512
#define WEXAL_KERNEL_TARGET "avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi2"
#include "target_begin.hpp"

#include "avx512_lanes.hpp"
#include "scalar.hpp"

// One step from p over n bytes (1 to 64; zeros past them).
struct utf8_step {
    __m512i next;          // the bytes from p + 1
    std::uint64_t starts;  // the leads of the characters converted
    std::uint64_t two;     // those with two bytes or more
    std::uint64_t three;   // those with three bytes or more
    std::uint64_t four;    // those with four bytes (two units)
    unsigned length;       // the bytes they take
    bool codec;            // the sequence after them goes through the codec
};

inline utf8_step scan_utf8_step(__m512i bytes, const unsigned char* p, unsigned n) noexcept {
    utf8_step s;
    s.next = _mm512_maskz_loadu_epi8(first_lanes(n - 1), p + 1);
    const std::uint64_t continuation = _mm512_cmplt_epi8_mask(bytes, _mm512_set1_epi8(-0x40));  // 80..BF
    const std::uint64_t leads = ~continuation;
    // Where the step stops: the last lead, or the end when it lies in the
    // bytes (the zeros after it count as leads). A lead followed by 63
    // continuations (or no lead at all) leaves nothing: the codec goes on.
    unsigned stop = n < 64 ? n : highest_lane(leads | 1u);
    std::uint64_t before = first_lanes(stop);
    const std::uint64_t two = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x40)) & before;
    const std::uint64_t three = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x20)) & before;
    const std::uint64_t four = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x10)) & before;
    // Continuations exactly where the leads before stop ask for them, up to
    // stop itself (a lead, or the end): a character cut short shows there.
    const std::uint64_t misplaced = (((two << 1) | (three << 2) | (four << 3)) ^ continuation) &
                                    (before | (before + 1));
    // Leads that begin nothing: C0, C1, F5..FF.
    std::uint64_t bad = (_mm512_cmpeq_epi8_mask(_mm512_and_si512(bytes, _mm512_set1_epi8(-2)),
                                                _mm512_set1_epi8(-0x40)) |
                         _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x0B))) &
                        before;
    if (three != 0) {
        // Second bytes out of range after E0 (overlong), ED (surrogate), F0
        // (overlong) and F4 (above U+10FFFF).
        const __mmask64 below_a0 = _mm512_cmplt_epu8_mask(s.next, _mm512_set1_epi8(-0x60));
        const __mmask64 below_90 = _mm512_cmplt_epu8_mask(s.next, _mm512_set1_epi8(-0x70));
        bad |= (_mm512_mask_cmpeq_epi8_mask(below_a0, bytes, _mm512_set1_epi8(-0x20)) |
                _mm512_mask_cmpeq_epi8_mask(~below_a0, bytes, _mm512_set1_epi8(-0x13)) |
                _mm512_mask_cmpeq_epi8_mask(below_90, bytes, _mm512_set1_epi8(-0x10)) |
                _mm512_mask_cmpeq_epi8_mask(~below_90, bytes, _mm512_set1_epi8(-0x0C))) &
               before;
    }
    s.codec = stop == 0;
    const std::uint64_t faults = misplaced | bad;
    if (faults != 0) {
        // The first fault: a stray continuation or a bad lead is a sequence
        // of its own; a continuation missing there cuts short the character
        // of the last lead before it.
        const unsigned first = static_cast<unsigned>(_tzcnt_u64(faults));
        stop = first;
        if (((misplaced & leads) >> first & 1u) != 0) stop = highest_lane(leads & first_lanes(first));
        before = first_lanes(stop);
        s.codec = true;
    }
    s.starts = leads & before;
    s.two = two & before;
    s.three = three & before;
    s.four = four & before;
    s.length = stop;
    return s;
}

// The bytes of a step: at p, and one, two and three places on (zeros past
// the bytes the step may read).
struct step_bytes {
    __m512i at0, at1, at2, at3;
};

// The characters a step converts: their leads, and those of two bytes or
// more, three or more, four.
struct step_leads {
    std::uint64_t starts, two, three, four;
};

// The units of characters whose first three bytes (b0, b1, b2) are
// compressed to the front, one entry per unit: a four-byte character has
// two, one at its lead (the high surrogate, from its first three bytes) and
// one at its second byte (the low surrogate, from its third and fourth),
// which is a continuation byte where every other entry has a lead. 32 units
// at a time in 16-bit lanes; count of them. Four: there are four-byte
// characters.
template <bool Four>
WEXAL_STEP_INLINE unsigned put_units(__m512i b0, __m512i b1, __m512i b2, unsigned count, wide_char* out) noexcept {
    const __m512i low6 = _mm512_set1_epi16(0x3F);
    for (unsigned done = 0; done < count; done += 32) {
        const __m512i x0 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b0));
        const __m512i x1 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b1));
        const __m512i x2 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b2));
        const __m512i t1 = _mm512_and_si512(x1, low6);
        const __m512i t2 = _mm512_and_si512(x2, low6);
        // Two bytes: five bits and six; three: four (the 16-bit shift drops
        // the lead's marker), six and six.
        const __m512i two = _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(x0, set16(0x1F)), 6), t1);
        const __m512i three = _mm512_ternarylogic_epi32(_mm512_slli_epi16(x0, 12), _mm512_slli_epi16(t1, 6), t2,
                                                        0xFE);  // a | b | c
        __m512i units = _mm512_mask_mov_epi16(x0, _mm512_cmpge_epu16_mask(x0, set16(0xC0)), two);
        units = _mm512_mask_mov_epi16(units, _mm512_cmpge_epu16_mask(x0, set16(0xE0)), three);
        if (Four) {
            // The high surrogate: the code point's bits from 10 up, less
            // 0x40; the low one: its ten low bits.
            const __m512i high = _mm512_add_epi16(
                _mm512_ternarylogic_epi32(_mm512_slli_epi16(_mm512_and_si512(x0, set16(7)), 8),
                                          _mm512_slli_epi16(t1, 2), _mm512_srli_epi16(t2, 4), 0xFE),
                set16(0xD7C0));
            const __m512i low = _mm512_ternarylogic_epi32(_mm512_slli_epi16(_mm512_and_si512(x1, set16(0xF)), 6), t2,
                                                          set16(0xDC00), 0xFE);
            const __mmask32 continuation = _mm512_cmpeq_epi16_mask(_mm512_and_si512(x0, set16(0xC0)), set16(0x80));
            units = _mm512_mask_mov_epi16(units, continuation, low);
            units = _mm512_mask_mov_epi16(units, _mm512_cmpge_epu16_mask(x0, set16(0xF0)), high);
        }
        const unsigned left = count - done;
        _mm512_mask_storeu_epi16(out + done, left >= 32 ? ~0u : _bzhi_u32(~0u, left), units);
        const __m512i upper = _mm512_setr_epi64(4, 5, 6, 7, 0, 0, 0, 0);
        b0 = _mm512_maskz_permutexvar_epi64(0x0F, upper, b0);
        b1 = _mm512_maskz_permutexvar_epi64(0x0F, upper, b1);
        b2 = _mm512_maskz_permutexvar_epi64(0x0F, upper, b2);
    }
    return count;
}

// Writes the units of the characters in leads at out; returns their number.
// Every (tail) lets a step whose characters lie at every third byte from
// the first take them without compressing.
template <bool Tail>
WEXAL_STEP_INLINE unsigned put_utf8_chars(const step_bytes& b, const step_leads& s, wide_char* out) noexcept {
    const __m512i bytes = b.at0;
    const std::uint32_t starts_low = static_cast<std::uint32_t>(s.starts);
    const std::uint32_t starts_high = static_cast<std::uint32_t>(s.starts >> 32);
    if (s.three == 0) {
        // One and two bytes: every byte's unit (a lead with the next byte),
        // the leads' compressed to the front, 32 bytes at a time.
        const __m512i x0 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(bytes));
        const __m512i x1 = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(bytes, 1));
        const __m512i y0 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b.at1));
        const __m512i y1 = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(b.at1, 1));
        const __m512i low5 = _mm512_set1_epi16(0x1F), low6 = _mm512_set1_epi16(0x3F);
        const __m512i u0 = _mm512_mask_mov_epi16(
            x0, static_cast<__mmask32>(s.two),
            _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(x0, low5), 6), _mm512_and_si512(y0, low6)));
        const __m512i u1 = _mm512_mask_mov_epi16(
            x1, static_cast<__mmask32>(s.two >> 32),
            _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(x1, low5), 6), _mm512_and_si512(y1, low6)));
        const unsigned count_low = static_cast<unsigned>(_mm_popcnt_u32(starts_low));
        _mm512_mask_storeu_epi16(out, static_cast<__mmask32>(_bzhi_u32(~0u, count_low)),
                                 _mm512_maskz_compress_epi16(starts_low, u0));
        const unsigned count_high = static_cast<unsigned>(_mm_popcnt_u32(starts_high));
        _mm512_mask_storeu_epi16(out + count_low, static_cast<__mmask32>(_bzhi_u32(~0u, count_high)),
                                 _mm512_maskz_compress_epi16(starts_high, u1));
        return count_low + count_high;
    }
    if (Tail && s.four == 0 && s.starts == (s.three & 0x9249249249249249u)) {
        const unsigned count = static_cast<unsigned>(_mm_popcnt_u64(s.starts));
        // Three bytes each (CJK): characters at every third byte, sixteen
        // at a time in dword lanes without looking for their leads. Each
        // lane takes the two 16-bit words around its character, then the
        // character's three bytes in its 128-bit lane.
        __m512i words = _mm512_set_epi16(23, 22, 22, 21, 20, 19, 19, 18, 17, 16, 16, 15, 14, 13, 13, 12, 11, 10, 10, 9,
                                         8, 7, 7, 6, 5, 4, 4, 3, 2, 1, 1, 0);
        const __m512i pick = _mm512_set_epi8(-1, 15, 14, 13, -1, 10, 9, 8, -1, 7, 6, 5, -1, 2, 1, 0, -1, 15, 14, 13, -1,
                                             10, 9, 8, -1, 7, 6, 5, -1, 2, 1, 0, -1, 15, 14, 13, -1, 10, 9, 8, -1, 7, 6,
                                             5, -1, 2, 1, 0, -1, 15, 14, 13, -1, 10, 9, 8, -1, 7, 6, 5, -1, 2, 1, 0);
        for (unsigned done = 0; done < count; done += 16) {
            const __m512i lane = _mm512_shuffle_epi8(_mm512_permutexvar_epi16(words, bytes), pick);
            const __m512i pairs = _mm512_maddubs_epi16(_mm512_and_si512(lane, _mm512_set1_epi32(0x003F3F0F)),
                                                       _mm512_set1_epi16(0x0140));
            const __m256i units = _mm512_cvtepi32_epi16(
                _mm512_srli_epi32(_mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000)), 6));
            const unsigned left = count - done;
            _mm256_mask_storeu_epi16(out + done, static_cast<__mmask16>(left >= 16 ? 0xFFFFu : _bzhi_u32(~0u, left)),
                                     units);
            words = _mm512_add_epi16(words, _mm512_set1_epi16(24));
        }
        return count;
    }
    // Any widths: the first three bytes of every unit's entry (see
    // put_units), compressed to the front. A four-byte character at the last
    // lane has its second byte past the block: its low surrogate comes from
    // the lanes loaded two and three places on.
    if (s.four == 0) {
        return put_units<false>(
            _mm512_maskz_compress_epi8(s.starts, bytes), _mm512_maskz_compress_epi8(s.starts, b.at1),
            _mm512_maskz_compress_epi8(s.starts, b.at2), static_cast<unsigned>(_mm_popcnt_u64(s.starts)), out);
    }
    const std::uint64_t entries = s.starts | (s.four << 1);
    const unsigned count = put_units<true>(
        _mm512_maskz_compress_epi8(entries, bytes), _mm512_maskz_compress_epi8(entries, b.at1),
        _mm512_maskz_compress_epi8(entries, b.at2), static_cast<unsigned>(_mm_popcnt_u64(entries)), out);
    if ((s.four >> 63) == 0) return count;
    const unsigned third = static_cast<unsigned>(_mm_extract_epi8(_mm512_extracti32x4_epi32(b.at2, 3), 15));
    const unsigned fourth = static_cast<unsigned>(_mm_extract_epi8(_mm512_extracti32x4_epi32(b.at3, 3), 15));
    out[count] = static_cast<wide_char>(0xDC00u | ((third & 0xFu) << 6) | (fourth & 0x3Fu));
    return count + 1;
}

// Whole blocks of 64 bytes while 64 bytes and 66 units of room are left (a
// block gives at most 65 units, and a faulty sequence after some of them at
// most 2). A block converts the characters whose leads lie in it; one that
// runs on into the next block is converted from the bytes loaded one, two
// and three places on, once those are seen to be its continuations, and the
// next block takes them as carried (carry: the lanes at its start that are
// such continuations). So the input moves by 64 bytes a block whatever the
// text, and the processor overlaps the blocks. A fault ends the block there
// as in the steps below, and the codec takes the faulty sequence; so does a
// character cut short past the block (near the end, the bytes past a block
// are loaded with masks, so nothing past the input is read).
inline void whole_blocks(const unsigned char*& cursor, const unsigned char* e, wide_char*& out_cursor,
                         std::size_t& room_left) noexcept {
    const unsigned char* p = cursor;
    wide_char* out = out_cursor;
    std::size_t room = room_left;
    std::uint64_t carry = 0;
    while (e - p >= 64 && room >= 66) {
        const __m512i bytes = _mm512_loadu_si512(p);
        if ((_mm512_movepi8_mask(bytes) | carry) == 0) {
            _mm512_storeu_si512(out, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(bytes)));
            _mm512_storeu_si512(out + 32, _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(bytes, 1)));
            p += 64;
            out += 64;
            room -= 64;
            continue;
        }
        const std::size_t left = static_cast<std::size_t>(e - p);
        const step_bytes b = left >= 67 ? step_bytes{bytes, _mm512_loadu_si512(p + 1), _mm512_loadu_si512(p + 2),
                                                     _mm512_loadu_si512(p + 3)}
                                        : step_bytes{bytes, _mm512_maskz_loadu_epi8(first_lanes(left - 1), p + 1),
                                                     _mm512_maskz_loadu_epi8(first_lanes(left - 2), p + 2),
                                                     _mm512_maskz_loadu_epi8(first_lanes(left - 3), p + 3)};
        const std::uint64_t continuation = _mm512_cmplt_epi8_mask(bytes, _mm512_set1_epi8(-0x40));  // 80..BF
        const std::uint64_t leads = ~continuation;
        const std::uint64_t two = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x40));
        const std::uint64_t three = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x20));
        const std::uint64_t four = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x10));
        // Continuations exactly where the leads ask for them, and no lead
        // that begins nothing (C0, C1, F5..FF), nor a second byte out of
        // range after E0, ED, F0 or F4 (a fault at the lead).
        const std::uint64_t expected = (two << 1) | (three << 2) | (four << 3) | carry;
        std::uint64_t faults = (expected ^ continuation) |
                               _mm512_cmpeq_epi8_mask(_mm512_and_si512(bytes, _mm512_set1_epi8(-2)),
                                                      _mm512_set1_epi8(-0x40)) |
                               _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x0B));
        if (three != 0) {
            const __mmask64 below_a0 = _mm512_cmplt_epu8_mask(b.at1, _mm512_set1_epi8(-0x60));
            const __mmask64 below_90 = _mm512_cmplt_epu8_mask(b.at1, _mm512_set1_epi8(-0x70));
            faults |= _mm512_mask_cmpeq_epi8_mask(below_a0, bytes, _mm512_set1_epi8(-0x20)) |
                      _mm512_mask_cmpeq_epi8_mask(~below_a0, bytes, _mm512_set1_epi8(-0x13)) |
                      _mm512_mask_cmpeq_epi8_mask(below_90, bytes, _mm512_set1_epi8(-0x10)) |
                      _mm512_mask_cmpeq_epi8_mask(~below_90, bytes, _mm512_set1_epi8(-0x0C));
        }
        // What the last leads ask of the three bytes past the block (bits 0
        // to 2), and which of them are continuations (lanes 61 to 63 of the
        // bytes three places on).
        const std::uint64_t carry_out = (two >> 63) | (three >> 62) | (four >> 61);
        const std::uint64_t beyond = _mm512_cmplt_epi8_mask(b.at3, _mm512_set1_epi8(-0x40)) >> 61;
        if ((faults | (carry_out & ~beyond)) == 0) {
            const unsigned units = static_cast<unsigned>(_mm_popcnt_u64(leads) + _mm_popcnt_u64(four));
            put_utf8_chars<false>(b, {leads, two, three, four}, out);
            out += units;
            room -= units;
            carry = carry_out;
            p += 64;
            continue;
        }
        // The faulty sequence begins at the first fault, or at the last lead
        // before it when a continuation is missing there (which cuts that
        // character short); with no fault in the block, at the last lead,
        // whose character the bytes past the block cut short.
        unsigned start;
        if (faults != 0) {
            const unsigned first = static_cast<unsigned>(_tzcnt_u64(faults));
            const std::uint64_t before = leads & first_lanes(first);
            start = ((expected & leads) >> first & 1u) != 0 && before != 0 ? highest_lane(before) : first;
        } else {
            start = highest_lane(leads);  // the lead of what the carry asks for
        }
        const std::uint64_t converted = leads & first_lanes(start);
        const unsigned units = static_cast<unsigned>(_mm_popcnt_u64(converted) + _mm_popcnt_u64(four & converted));
        put_utf8_chars<false>(b, {converted, two & converted, three & converted, four & converted}, out);
        out += units;
        room -= units;
        p += start;
        carry = 0;
        // The faulty sequence as the plain loop takes it (the room holds it).
        const code_point cp = decode_or_replace<utf8_codec>(p, e);
        out = utf16_codec::encode(cp, out);
        room -= static_cast<std::size_t>(utf16_codec::width(cp));
    }
    // The continuations carried past the last block, already converted.
    while (carry != 0) {
        ++p;
        carry >>= 1;
    }
    cursor = p;
    out_cursor = out;
    room_left = room;
}

WEXAL_STEP_INLINE void steps(conversion<wide_char, char>& c) noexcept {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(c.in);
    const unsigned char* const e = reinterpret_cast<const unsigned char*>(c.end);
    wide_char* out = c.out;
    std::size_t room = c.room;
    if (e - p >= 64) whole_blocks(p, e, out, room);
    while (p != e) {
        const std::size_t left = static_cast<std::size_t>(e - p);
        const unsigned n = left < 64 ? static_cast<unsigned>(left) : 64u;
        const __m512i bytes = _mm512_maskz_loadu_epi8(first_lanes(n), p);
        if (_mm512_movepi8_mask(bytes) == 0) {
            if (room < n) break;
            _mm512_mask_storeu_epi16(out, static_cast<__mmask32>(first_lanes(n)),
                                     _mm512_cvtepu8_epi16(_mm512_castsi512_si256(bytes)));
            _mm512_mask_storeu_epi16(out + 32, static_cast<__mmask32>(first_lanes(n) >> 32),
                                     _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(bytes, 1)));
            p += n;
            out += n;
            room -= n;
            continue;
        }
        const utf8_step s = scan_utf8_step(bytes, p, n);
        const std::size_t units = static_cast<std::size_t>(_mm_popcnt_u64(s.starts)) +
                                  static_cast<std::size_t>(_mm_popcnt_u64(s.four));
        if (units > room) break;
        if (s.starts != 0) {
            const step_bytes b{bytes, s.next, _mm512_maskz_loadu_epi8(first_lanes(n > 2 ? n - 2 : 0), p + 2),
                               _mm512_maskz_loadu_epi8(first_lanes(n > 3 ? n - 3 : 0), p + 3)};
            out += put_utf8_chars<true>(b, {s.starts, s.two, s.three, s.four}, out);
            room -= units;
            p += s.length;
        }
        if (s.codec) {
            // One sequence as the plain loop takes it.
            const unsigned char* q = p;
            const code_point cp = decode_or_replace<utf8_codec>(q, e);
            const std::size_t width = static_cast<std::size_t>(utf16_codec::width(cp));
            if (room < width) break;
            out = utf16_codec::encode(cp, out);
            room -= width;
            p = q;
        }
    }
    // What the steps leave (a room too short for the next step): the scalar
    // loop, which stops exactly where the plain loop does.
    c.in = reinterpret_cast<const char*>(p);
    c.out = out;
    c.room = room;
}

transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
                                                const char* end) noexcept {
    return convert(out, room, begin, end, steps);
}

#include "target_end.hpp"
