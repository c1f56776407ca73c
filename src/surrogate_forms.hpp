// The three-byte forms of surrogates (ED A0..BF 80..BF) that WTF-8 keeps and
// UTF-8 rejects: found by the lossless conversions and by the names of
// Windows calls, which take them as the surrogates they stand for.
#ifndef WEXAL_U8PORT_SRC_SURROGATE_FORMS_HPP
#define WEXAL_U8PORT_SRC_SURROGATE_FORMS_HPP

#include <cstddef>
#include <cstring>

namespace wexal {
namespace u8port {
namespace detail {

// Whether the n bytes at p begin with the form of a surrogate.
inline bool is_surrogate_form(const char* p, std::size_t n) noexcept {
    return n >= 3 && static_cast<unsigned char>(p[0]) == 0xEDu && (static_cast<unsigned char>(p[1]) & 0xE0u) == 0xA0u &&
           (static_cast<unsigned char>(p[2]) & 0xC0u) == 0x80u;
}

// The first form of a surrogate in [p, end), or end. (0xED is a lead, so each
// one found begins a sequence.)
inline const char* find_surrogate_form(const char* p, const char* end) noexcept {
    while (p != end) {
        const void* found = std::memchr(p, 0xED, static_cast<std::size_t>(end - p));
        if (found == nullptr) return end;
        p = static_cast<const char*>(found);
        if (is_surrogate_form(p, static_cast<std::size_t>(end - p))) return p;
        ++p;
    }
    return end;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_SURROGATE_FORMS_HPP
