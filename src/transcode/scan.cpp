// The engine's scans of UTF-16 text: the length to its terminator, and the
// first unpaired surrogate (which the lossless narrow writes as its 3-byte
// form). SSE2 where the processor's baseline has it, which every x86-64 has,
// so no choice at run time.
#include <cstddef>
#include <cstdint>

#include <wexal/u8port/stackstring.hpp>

#include "kernels.hpp"

#if defined(__SSE2__) || defined(_M_X64)
#define WEXAL_SCAN_SSE2 1
#include <emmintrin.h>
#else
#define WEXAL_SCAN_SSE2 0
#endif

namespace wexal {
namespace u8port {
namespace detail {

// The first unpaired surrogate in [p, end), or end.
const wide_char* find_unpaired_surrogate(const wide_char* p, const wide_char* end) noexcept {
    const wide_char* const start = p;
    while (p != end) {
#if WEXAL_SCAN_SSE2
        if (end - p > 8 && p != start) {
            // Eight units go in one step when they hold no surrogate, or only
            // leads followed by trails and trails preceded by leads (the units
            // just before and after come from loads one unit off).
            const auto load = [](const wide_char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
            const auto is = [](__m128i v, int mask, int value) {
                return _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(mask))),
                                       _mm_set1_epi16(static_cast<short>(value)));
            };
            const __m128i v = load(p);
            if (_mm_movemask_epi8(is(v, -0x800, -0x2800)) == 0) {  // none in 0xD800..0xDFFF
                p += 8;
                continue;
            }
            const __m128i lone_lead = _mm_andnot_si128(is(load(p + 1), -0x400, -0x2400), is(v, -0x400, -0x2800));
            const __m128i lone_trail = _mm_andnot_si128(is(load(p - 1), -0x400, -0x2800), is(v, -0x400, -0x2400));
            if (_mm_movemask_epi8(_mm_or_si128(lone_lead, lone_trail)) == 0) {
                p += 8;
                continue;
            }
        }
#endif
        const unsigned u = static_cast<std::uint16_t>(*p);
        if (u - 0xD800u >= 0x800u) {
            ++p;
        } else if (u < 0xDC00u && end - p >= 2 && static_cast<std::uint16_t>(p[1]) - 0xDC00u < 0x400u) {
            p += 2;
        } else if (u >= 0xDC00u && p != start && static_cast<std::uint16_t>(p[-1]) - 0xD800u < 0x400u) {
            ++p;  // the trail of a pair whose lead ended the last block
        } else {
            return p;
        }
    }
    return end;
}

// The aligned loads below read whole blocks around the string, which the
// address sanitizer would take for overruns.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("address")))
#endif
std::size_t
wide_length(const wide_char* s) noexcept {
    const wide_char* p = s;
#if WEXAL_SCAN_SSE2
    // Aligned loads from the block that holds s on: they never reach into
    // another page. Lanes before s are masked off.
    if ((reinterpret_cast<std::uintptr_t>(s) & 1u) == 0) {
        const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(s) & 15u;
        const __m128i* block = reinterpret_cast<const __m128i*>(reinterpret_cast<const char*>(s) - offset);
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), _mm_setzero_si128())));
        mask &= ~0u << offset;
        while (mask == 0) {
            ++block;
            mask = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), _mm_setzero_si128())));
        }
#if defined(__GNUC__) || defined(__clang__)
        const unsigned first = static_cast<unsigned>(__builtin_ctz(mask));
#else
        unsigned first = 0;
        while (((mask >> first) & 1u) == 0) ++first;
#endif
        return static_cast<std::size_t>(
            reinterpret_cast<const wide_char*>(reinterpret_cast<const char*>(block) + first) - s);
    }
#endif
    while (*p != 0) ++p;
    return static_cast<std::size_t>(p - s);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
