// widen and narrow, default and lossless (WTF-8): whole strings sized once
// and converted by the library's kernels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/stackstring.hpp>

#include "transcode/kernels.hpp"

#if defined(__SSE2__) || defined(_M_X64)
#define WEXAL_CONVERT_SSE2 1
#include <emmintrin.h>
#else
#define WEXAL_CONVERT_SSE2 0
#endif

namespace wexal {
namespace u8port {
namespace detail {
namespace {

// The first unpaired surrogate in [p, end), or end.
const wide_char* find_unpaired_surrogate(const wide_char* p, const wide_char* end) noexcept {
    const wide_char* const start = p;
    while (p != end) {
#if WEXAL_CONVERT_SSE2
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

// The first 3-byte form of a surrogate (ED A0..BF 80..BF) in [p, end), or end.
const char* find_surrogate_form(const char* p, const char* end) noexcept {
    while (p != end) {
        const void* found = std::memchr(p, 0xED, static_cast<std::size_t>(end - p));
        if (found == nullptr) return end;
        p = static_cast<const char*>(found);
        if (end - p >= 3 && (static_cast<unsigned char>(p[1]) & 0xE0u) == 0xA0u &&
            (static_cast<unsigned char>(p[2]) & 0xC0u) == 0x80u) {
            return p;
        }
        ++p;
    }
    return end;
}

// Lossless conversion of input that has an unpaired surrogate (or its
// 3-byte form) at first: the stretches between them are converted by
// transcode, the surrogates one by one by special(p, out). Cutting there
// changes nothing for the stretches, since each cut falls where a sequence
// begins anyway. The size is the default conversion's: a surrogate and its
// U+FFFD take the same room (one unit, or three bytes).
template <typename Out, typename In, typename Find, typename Special>
std::basic_string<Out> transcode_lossless(const In* begin, const In* end, std::size_t length, const In* first,
                                          std::size_t special_size, Find find, Special special) {
    std::basic_string<Out> result(length, Out(0));
    Out* out = &result[0];
    Out* const out_end = out + length;
    for (const In *p = begin, *q = first;; q = find(p, end)) {
        out = transcode(out, static_cast<std::size_t>(out_end - out), p, q).out;
        if (q == end) break;
        out = special(q, out);
        p = q + special_size;
    }
    return result;
}

}  // namespace

// The aligned loads below read whole blocks around the string, which the
// address sanitizer would take for overruns.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("address")))
#endif
std::size_t
wide_length(const wide_char* s) noexcept {
    const wide_char* p = s;
#if WEXAL_CONVERT_SSE2
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

// UTF-8 to UTF-16; each malformed sequence becomes U+FFFD.
wide_string widen(std::string_view utf8) {
    return detail::transcode_to_string<wide_char>(utf8.data(), utf8.data() + utf8.size());
}

// UTF-16 to UTF-8; each unpaired surrogate becomes U+FFFD.
std::string narrow(wide_string_view utf16) {
    return detail::transcode_to_string<char>(utf16.data(), utf16.data() + utf16.size());
}

// WTF-8 to UTF-16: also decodes the 3-byte forms of surrogates.
wide_string widen(std::string_view wtf8, lossless_t) {
    const char* const begin = wtf8.data();
    const char* const end = begin + wtf8.size();
    const char* const first = detail::find_surrogate_form(begin, end);
    if (first == end) return widen(wtf8);
    return detail::transcode_lossless<wide_char>(
        begin, end, transcoded_length<wide_char>(begin, end), first, 3, detail::find_surrogate_form,
        [](const char* p, wide_char* out) {
            *out = static_cast<wide_char>(0xD000u | ((static_cast<unsigned char>(p[1]) & 0x3Fu) << 6) |
                                          (static_cast<unsigned char>(p[2]) & 0x3Fu));
            return out + 1;
        });
}

// UTF-16 to WTF-8: unpaired surrogates as their 3-byte forms.
std::string narrow(wide_string_view utf16, lossless_t) {
    const wide_char* const begin = utf16.data();
    const wide_char* const end = begin + utf16.size();
    // The count tells whether there is any surrogate at all, so text without
    // one is read no more often than by the default form.
    bool surrogates;
    const std::size_t length = detail::utf8_length(begin, end, surrogates);
    const wide_char* const first = surrogates ? detail::find_unpaired_surrogate(begin, end) : end;
    return detail::transcode_lossless<char>(begin, end, length, first, 1, detail::find_unpaired_surrogate,
                                            [](const wide_char* p, char* out) {
                                                const unsigned u = static_cast<std::uint16_t>(*p);
                                                out[0] = static_cast<char>(0xEDu);
                                                out[1] = static_cast<char>(0x80u | ((u >> 6) & 0x3Fu));
                                                out[2] = static_cast<char>(0x80u | (u & 0x3Fu));
                                                return out + 3;
                                            });
}

}  // namespace u8port
}  // namespace wexal
