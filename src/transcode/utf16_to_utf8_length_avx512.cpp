// The count of UTF-8 bytes for UTF-16 in the AVX-512 kernel.
#define WEXAL_KERNEL avx512
#define WEXAL_KERNEL_TARGET "avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi2"
#include "target_begin.hpp"

#include "avx512_lanes.hpp"
#include "scalar.hpp"

std::size_t utf16_to_utf8_length(const wide_char* begin, const wide_char* end, bool& surrogates) noexcept {
    // One byte per unit, one more from 0x80, one more from 0x800; a pair is
    // four bytes where its units count six; an unpaired surrogate is U+FFFD,
    // three.
    const wide_char* p = begin;
    std::size_t length = 0;
    // 64 units at a time while the unit after them is there; ASCII alone
    // counts at once. Pairs come from the masks (a high surrogate whose next
    // unit is a low one), without a branch: in text with a stray surrogate
    // here and there it would mispredict.
    std::uint64_t any_surrogate = 0;
    while (end - p > 64) {
        const __m512i a = _mm512_loadu_si512(p);
        const __m512i b = _mm512_loadu_si512(p + 32);
        if (at_least_0x80(_mm512_or_si512(a, b)) == 0) {
            length += 64;
            p += 64;
            continue;
        }
        const auto both = [](__mmask32 first, __mmask32 second) {
            return static_cast<std::uint64_t>(first) | (static_cast<std::uint64_t>(second) << 32);
        };
        const std::uint64_t wide = both(at_least_0x80(a), at_least_0x80(b));
        const std::uint64_t wider = both(at_least_0x800(a), at_least_0x800(b));
        const std::uint64_t high = both(units_like(a, 0xFC00, 0xD800), units_like(b, 0xFC00, 0xD800));
        const std::uint64_t low = both(units_like(a, 0xFC00, 0xDC00), units_like(b, 0xFC00, 0xDC00));
        const std::uint64_t low_after = static_cast<std::uint64_t>((static_cast<std::uint16_t>(p[64]) & 0xFC00u) ==
                                                                   0xDC00u);
        const std::uint64_t pairs = high & ((low >> 1) | (low_after << 63));
        any_surrogate |= high | low;
        length += 64 + static_cast<std::size_t>(_mm_popcnt_u64(wide) + _mm_popcnt_u64(wider)) -
                  2 * static_cast<std::size_t>(_mm_popcnt_u64(pairs));
        p += 64;
    }
    surrogates = any_surrogate != 0;
    while (p != end) {
        const std::size_t left = static_cast<std::size_t>(end - p);
        const unsigned n = step_size(left);
        const __m512i v = load_units(p, n);
        length += n + static_cast<std::size_t>(_mm_popcnt_u32(at_least_0x80(v)) + _mm_popcnt_u32(at_least_0x800(v)));
        if (units_like(v, 0xF800, 0xD800) != 0) {
            surrogates = true;
            length -= 2 * static_cast<std::size_t>(_mm_popcnt_u32(paired_highs(v, load_next_units(p, left))));
        }
        p += n;
    }
    return length;
}

#include "target_end.hpp"
