// Build configuration shared by every public header of u8port-lib: the export
// macro and the 16-bit wide character type.
#ifndef WEXAL_U8PORT_CONFIG_HPP
#define WEXAL_U8PORT_CONFIG_HPP

#if defined(__cpp_char8_t)
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#endif

// An installed static build carries this header, which defines
// WEXAL_U8PORT_STATIC: a program compiled against that include directory alone
// declares what the static library holds, with or without CMake or pkg-config.
#if defined(__has_include)
#if __has_include(<wexal/u8port/static_library.hpp>)
#include <wexal/u8port/static_library.hpp>
#endif
#endif

// WEXAL_U8PORT_API marks what the shared library exports.
// - WEXAL_U8PORT_STATIC: the sources are compiled into a static library (the
//   unit tests do this); nothing is imported or exported.
// - WEXAL_U8PORT_BUILDING: defined while the shared library itself is built.
#if defined(WEXAL_U8PORT_STATIC)
#define WEXAL_U8PORT_API
#elif defined(_WIN32)
#if defined(WEXAL_U8PORT_BUILDING)
#define WEXAL_U8PORT_API __declspec(dllexport)
#else
#define WEXAL_U8PORT_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
// ELF builds use hidden visibility by default, so exports are marked as on Windows.
#define WEXAL_U8PORT_API __attribute__((visibility("default")))
#else
#define WEXAL_U8PORT_API
#endif

namespace wexal {
namespace u8port {

// One UTF-16 code unit: the platform's wide character on Windows, char16_t
// elsewhere, so the width is 16 bits on every build.
#if defined(_WIN32)
using wide_char = wchar_t;
#else
using wide_char = char16_t;
#endif

static_assert(sizeof(wide_char) == 2, "wide_char must be a 16-bit unit");

#if defined(__cpp_char8_t)
namespace detail {

// The one adapter for C++20 UTF-8 text (char8_t), shared by every header.
// The char8_t forms are templates, so that a null pointer still picks the
// const char* form: C is exactly char8_t, S a u8string or anything else that
// becomes a u8string_view without being a pointer.
template <typename C>
using if_char8_unit = std::enable_if_t<std::is_same_v<C, char8_t>, int>;
template <typename S>
using if_u8string_arg = std::enable_if_t<
    std::is_convertible_v<const S&, std::u8string_view> && !std::is_convertible_v<const S&, const char8_t*>, int>;

// The same bytes as char.
inline const char* as_chars(const char8_t* s) noexcept { return reinterpret_cast<const char*>(s); }
inline std::string_view as_chars(std::u8string_view s) noexcept { return {as_chars(s.data()), s.size()}; }

// C++20 UTF-8 text for the calls that take NUL-terminated const char*: a
// char8_t pointer or array, or anything that becomes a u8string_view (which is
// copied, since it need not be NUL-terminated). Never a null pointer constant,
// so that nullptr keeps choosing the const char* forms.
template <typename T>
inline constexpr bool is_char8_text_v = !std::is_same_v<T, std::nullptr_t> &&
                                        std::is_convertible_v<const T&, std::u8string_view>;

// Every argument is text, and at least one is C++20 UTF-8 text.
template <typename... T>
using if_char8_text_args = std::enable_if_t<
    ((is_char8_text_v<T> || std::is_convertible_v<const T&, const char*>)&&...) && (is_char8_text_v<T> || ...), int>;

// One argument as the const char* the exported call takes, valid until the
// end of the full expression.
class utf8_arg {
public:
    utf8_arg(const char* s) noexcept : text_(s) {}
    utf8_arg(const char8_t* s) noexcept : text_(as_chars(s)) {}
    utf8_arg(std::u8string_view s) : copy_(as_chars(s)), text_(copy_.c_str()) {}

    utf8_arg(const utf8_arg&) = delete;
    utf8_arg& operator=(const utf8_arg&) = delete;

    const char* get() const noexcept { return text_; }

private:
    std::string copy_;
    const char* text_;
};

}  // namespace detail
#endif

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CONFIG_HPP
