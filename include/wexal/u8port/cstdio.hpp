// UTF-8 file calls, each returning the platform call's result unchanged.
// - Windows: names are converted to UTF-16 (a malformed UTF-8 sequence
//   becomes U+FFFD, but the three-byte form of a lone surrogate is that
//   surrogate, so a name from to_utf8(path, lossless) names that file) for
//   the wide-character C runtime call; a name whose full path reaches
//   MAX_PATH (260 units) is handed over in its verbatim form, so long paths
//   work with no setting on the machine.
// - Elsewhere a name is bytes: it reaches the C library's call unchanged,
//   whatever it holds.
#ifndef WEXAL_U8PORT_CSTDIO_HPP
#define WEXAL_U8PORT_CSTDIO_HPP

#include <cstdio>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {

WEXAL_U8PORT_API std::FILE* fopen(const char* file_name, const char* mode);
WEXAL_U8PORT_API std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream);
WEXAL_U8PORT_API int remove(const char* file_name);
WEXAL_U8PORT_API int rename(const char* old_name, const char* new_name);

#if defined(__cpp_char8_t)
// The same calls with C++20 UTF-8 text (u8"..." literals, std::u8string) in
// any of the name and mode arguments: u8::fopen(u8"café.txt", "rb").
template <typename N, typename M, detail::if_char8_text_args<N, M> = 0>
std::FILE* fopen(const N& file_name, const M& mode) {
    return u8port::fopen(detail::utf8_arg(file_name).get(), detail::utf8_arg(mode).get());
}
template <typename N, typename M, detail::if_char8_text_args<N, M> = 0>
std::FILE* freopen(const N& file_name, const M& mode, std::FILE* stream) {
    return u8port::freopen(detail::utf8_arg(file_name).get(), detail::utf8_arg(mode).get(), stream);
}
template <typename N, detail::if_char8_text_args<N> = 0>
int remove(const N& file_name) {
    return u8port::remove(detail::utf8_arg(file_name).get());
}
template <typename O, typename N, detail::if_char8_text_args<O, N> = 0>
int rename(const O& old_name, const N& new_name) {
    return u8port::rename(detail::utf8_arg(old_name).get(), detail::utf8_arg(new_name).get());
}
#endif

namespace detail {

// Opens a file by a name and mode already held as UTF-16: on Windows with
// nothing converted, elsewhere (no system call takes UTF-16) as UTF-8.
WEXAL_U8PORT_API std::FILE* wfopen(const wide_char* file_name, const wide_char* mode);

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CSTDIO_HPP
