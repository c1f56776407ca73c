// The file calls on Linux, where a name is bytes: it reaches the C library
// exactly as given, whatever it holds.
#include <wexal/u8port/cstdio.hpp>

#include <cstdio>

#include <wexal/u8port/stackstring.hpp>

#include "null_names.hpp"

namespace wexal {
namespace u8port {

std::FILE* fopen(const char* file_name, const char* mode) {
    return detail::refuse_null(file_name, mode) ? nullptr : std::fopen(file_name, mode);
}

std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream) {
    return detail::refuse_null(file_name, mode, stream) ? nullptr : std::freopen(file_name, mode, stream);
}

int remove(const char* file_name) { return detail::refuse_null(file_name) ? -1 : std::remove(file_name); }

int rename(const char* old_name, const char* new_name) {
    return detail::refuse_null(old_name, new_name) ? -1 : std::rename(old_name, new_name);
}

namespace detail {

// No system call of Linux takes UTF-16: the name is converted back to UTF-8
// (an unpaired surrogate becomes U+FFFD).
std::FILE* wfopen(const wide_char* file_name, const wide_char* mode) {
    if (refuse_null(file_name, mode)) return nullptr;
    const narrow_stackstring name(file_name);
    const narrow_stackstring narrow_mode(mode);
    return std::fopen(name.get(), narrow_mode.get());
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
