// UTF-8 file calls: each converts its names to UTF-16, calls the platform's
// wide-character counterpart and returns that call's result unchanged. A
// malformed UTF-8 sequence in a name reaches the platform as U+FFFD.
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

namespace detail {

// Opens a file by a name and mode already held as UTF-16; converts nothing.
WEXAL_U8PORT_API std::FILE* wfopen(const wide_char* file_name, const wide_char* mode);

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CSTDIO_HPP
