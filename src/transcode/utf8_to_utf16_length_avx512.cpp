// The count of UTF-16 units for UTF-8 in the AVX-512 kernel.
#define WEXAL_KERNEL avx512
#define WEXAL_KERNEL_TARGET "avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi2"
#include "target_begin.hpp"

#include "avx512_lanes.hpp"
#include "scalar.hpp"

// The count validates whole 64-byte blocks and decodes nothing. What the
// leads of one block ask of the next (continuations in its first three lanes,
// a second byte in range after F0 or F4) is carried over as bits, so
// blocks follow one another without a cut at the last lead. A valid block
// adds one unit per byte that is not a continuation and one more per
// four-byte lead. At the first fault the characters before the faulty
// sequence are counted (the one cut short may have begun in the block
// before, whose count then gives it back) and the codec takes that sequence,
// so the count is the conversion's, each malformed sequence one U+FFFD.
std::size_t utf8_to_utf16_length(const char* begin, const char* end) noexcept {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(begin);
    const unsigned char* const e = reinterpret_cast<const unsigned char*>(end);
    std::size_t length = 0;
    std::uint64_t carry = 0;   // the continuations the last block's leads ask for here
    std::uint64_t second = 0;  // the last block ended in F0 or F4 (bits 0 and 1)
    // The sequence cut short at p began in the last block: its units go back
    // and p goes back to its lead.
    const auto give_back = [&] {
        while (utf8_codec::is_continuation(p[-1])) --p;
        --p;
        length -= *p >= 0xF0u ? 2 : 1;
    };
    while (p != e) {
        const std::size_t left = static_cast<std::size_t>(e - p);
        const unsigned n = left < 64 ? static_cast<unsigned>(left) : 64u;
        const unsigned char* const base = p;
        const __m512i bytes = n == 64 ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi8(first_lanes(n), p);
        if ((_mm512_movepi8_mask(bytes) | carry) == 0) {
            p += n;
            length += n;
            continue;
        }
        const std::uint64_t continuation = _mm512_cmplt_epi8_mask(bytes, _mm512_set1_epi8(-0x40));  // 80..BF
        const std::uint64_t two = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x40));
        const std::uint64_t three = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x20));
        const std::uint64_t four = _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x10));
        // Continuations exactly where the leads ask for them (a character
        // cut short by the end shows at lane n, a zero), and no lead that
        // begins nothing: C0, C1, F5..FF.
        const std::uint64_t misplaced = (((two << 1) | (three << 2) | (four << 3) | carry) ^ continuation);
        std::uint64_t faults = misplaced |
                               _mm512_cmpeq_epi8_mask(_mm512_and_si512(bytes, _mm512_set1_epi8(-2)),
                                                      _mm512_set1_epi8(-0x40)) |
                               _mm512_cmpge_epu8_mask(bytes, _mm512_set1_epi8(-0x0B));
        // Faults that cut a character short (a lead where a continuation is
        // due, a second byte out of range): the sequence begins at its lead.
        std::uint64_t cut = misplaced & ~continuation;
        std::uint64_t bad_second = 0;
        if ((four | second) != 0) {
            // Four bytes out of range after F0 (overlong) and F4 (above
            // U+10FFFF) are one U+FFFD, not a pair. Three out of range (after
            // E0 or ED) are one U+FFFD too, the unit they count for anyway.
            const std::uint64_t f0 = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(-0x10));
            const std::uint64_t f4 = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(-0x0C));
            const std::uint64_t below_90 = _mm512_cmplt_epu8_mask(bytes, _mm512_set1_epi8(-0x70));
            bad_second = (((f0 << 1) | (second & 1u)) & below_90) | (((f4 << 1) | (second >> 1)) & ~below_90);
            faults |= bad_second;
            cut |= bad_second;
            second = (f0 >> 63) | (f4 >> 63) << 1;
        }
        faults &= first_lanes(n + 1);
        const std::uint64_t leads = ~continuation & first_lanes(n);
        if (faults == 0) {
            length += static_cast<std::size_t>(_mm_popcnt_u64(leads)) + static_cast<std::size_t>(_mm_popcnt_u64(four));
            carry = (two >> 63) | (three >> 62) | (four >> 61);
            p += n;
            continue;
        }
        // The faulty sequence begins at the first fault, or at the last lead
        // before it when the fault cuts a character short.
        const unsigned first = static_cast<unsigned>(_tzcnt_u64(faults));
        unsigned start = first;
        if ((cut >> first & 1u) != 0) {
            const std::uint64_t before = leads & first_lanes(first);
            start = before != 0 ? highest_lane(before) : 0;
            if (before == 0) give_back();
        }
        const std::uint64_t counted = first_lanes(start);
        length += static_cast<std::size_t>(_mm_popcnt_u64(leads & counted)) +
                  static_cast<std::size_t>(_mm_popcnt_u64(four & counted));
        if ((bad_second >> first & 1u) == 0) {
            // A byte that begins nothing is one U+FFFD, and so is a character
            // cut short, up to the byte that cuts it (which begins the next
            // sequence): the codec's result without its branches.
            length += 1;
            p = base + first + ((cut >> first & 1u) ^ 1u);
        } else {
            p += start;  // or at the lead given back, in the block before
            const char* q = reinterpret_cast<const char*>(p);
            length += static_cast<std::size_t>(utf16_codec::width(decode_or_replace<utf8_codec>(q, end)));
            p = reinterpret_cast<const unsigned char*>(q);
        }
        carry = 0;
        second = 0;
    }
    if (carry != 0) {
        // The input ends inside the last block's last character.
        give_back();
        const char* q = reinterpret_cast<const char*>(p);
        while (q != end) length += static_cast<std::size_t>(utf16_codec::width(decode_or_replace<utf8_codec>(q, end)));
    }
    return length;
}

#include "target_end.hpp"
