// Build configuration shared by every public header of u8port-lib: the export
// macro and the 16-bit wide character type.
#ifndef WEXAL_U8PORT_CONFIG_HPP
#define WEXAL_U8PORT_CONFIG_HPP

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

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CONFIG_HPP
