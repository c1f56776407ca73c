// std::filesystem::path from and to UTF-8.
//
// A path built from a std::string decodes the bytes in the C runtime's locale
// on Windows (an ANSI code page, or each byte as U+00xx), and path::string()
// throws on a name it cannot convert. These functions use UTF-8 whatever the
// locale, and the default forms never throw on bad input:
// - to_path(s): the path u8port::fopen(s) uses, so std::ifstream(to_path(s))
//   opens the file u8port::fopen(s) opens: on Windows each malformed UTF-8
//   sequence becomes U+FFFD; elsewhere the path holds exactly the bytes of s.
//   It is a plain conversion: on Windows a path of MAX_PATH units or more
//   still needs the verbatim form ("\\?\C:\...") or a long-path-aware
//   program to reach the file through std::filesystem.
// - to_utf8(p): the name as UTF-8, with U+FFFD for whatever has no UTF-8 form
//   (an unpaired surrogate on Windows, a malformed byte sequence on Linux).
// The lossless forms give back every name the system can hand out:
// to_path(to_utf8(p, lossless), lossless) == p.
// - Windows, where names are UTF-16: WTF-8 (see convert.hpp), which keeps
//   unpaired surrogates as their 3-byte forms.
// - Elsewhere, where names are bytes: the bytes as they are, not WTF-8; a name
//   that is not UTF-8 comes back unchanged, and to_path hands the bytes to the
//   system unchanged.
// No code page is ever involved.
#ifndef WEXAL_U8PORT_FILESYSTEM_HPP
#define WEXAL_U8PORT_FILESYSTEM_HPP

#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>

#include <wexal/u8port/convert.hpp>

namespace wexal {
namespace u8port {

#if defined(_WIN32)

inline std::filesystem::path to_path(std::string_view utf8) { return std::filesystem::path(widen(utf8)); }
inline std::filesystem::path to_path(std::string_view wtf8, lossless_t tag) {
    return std::filesystem::path(widen(wtf8, tag));
}
inline std::string to_utf8(const std::filesystem::path& p) { return narrow(p.native()); }
inline std::string to_utf8(const std::filesystem::path& p, lossless_t tag) { return narrow(p.native(), tag); }

#else

namespace detail {

// UTF-8 with each malformed sequence replaced by U+FFFD, for display.
inline std::string valid_utf8(std::string_view s) { return transcode_to_string<char>(s.data(), s.data() + s.size()); }

}  // namespace detail

// The bytes, as u8port::fopen hands them to the system.
inline std::filesystem::path to_path(std::string_view utf8) { return std::filesystem::path(std::string(utf8)); }
inline std::filesystem::path to_path(std::string_view bytes, lossless_t) {
    return std::filesystem::path(std::string(bytes));
}
inline std::string to_utf8(const std::filesystem::path& p) { return detail::valid_utf8(p.native()); }
inline std::string to_utf8(const std::filesystem::path& p, lossless_t) { return p.native(); }

#endif

// NUL-terminated forms; null gives an empty path.
inline std::filesystem::path to_path(const char* utf8) {
    return utf8 == nullptr ? std::filesystem::path() : to_path(std::string_view(utf8));
}
inline std::filesystem::path to_path(const char* utf8, lossless_t tag) {
    return utf8 == nullptr ? std::filesystem::path() : to_path(std::string_view(utf8), tag);
}

#if defined(__cpp_char8_t)
template <typename C, detail::if_char8_unit<C> = 0>
std::filesystem::path to_path(const C* utf8) {
    return to_path(detail::as_chars(utf8));
}
template <typename S, detail::if_u8string_arg<S> = 0>
std::filesystem::path to_path(const S& utf8) {
    return to_path(detail::as_chars(utf8));
}
template <typename C, detail::if_char8_unit<C> = 0>
std::filesystem::path to_path(const C* utf8, lossless_t tag) {
    return to_path(detail::as_chars(utf8), tag);
}
template <typename S, detail::if_u8string_arg<S> = 0>
std::filesystem::path to_path(const S& utf8, lossless_t tag) {
    return to_path(detail::as_chars(utf8), tag);
}
#endif

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_FILESYSTEM_HPP
