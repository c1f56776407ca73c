// ASCII text as UTF-16 units, made at compile time: the literals of the
// Windows code, which builds with wchar_t units on Windows and char16_t ones
// elsewhere.
#ifndef WEXAL_U8PORT_COMMON_ASCII_HPP
#define WEXAL_U8PORT_COMMON_ASCII_HPP

#include <cstddef>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {
namespace detail {

template <std::size_t N>
struct wide_literal {
    wide_char text[N];  // NUL-terminated
    static constexpr std::size_t size = N - 1;
};

template <std::size_t N>
constexpr wide_literal<N> ascii(const char (&s)[N]) noexcept {
    wide_literal<N> literal{};
    for (std::size_t i = 0; i < N; ++i) literal.text[i] = static_cast<wide_char>(static_cast<unsigned char>(s[i]));
    return literal;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_COMMON_ASCII_HPP
