// widen and narrow, default and lossless (WTF-8): whole strings sized once
// and converted by the library's kernels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <wexal/u8port/convert.hpp>

#include "transcode/kernels.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace {

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
