// The stand-in platform layer for non-Windows hosts. It behaves like the
// Windows calls the library relies on, on top of the C library: wide
// arguments are converted back to UTF-8 with the library's own codecs, and a
// null argument gives an error result with errno EINVAL instead of a crash.
#include "platform.hpp"
#include "posix_last_error.hpp"

#include <cerrno>
#include <cstdio>

#include <wexal/u8port/stackstring.hpp>

namespace wexal {
namespace u8port {
namespace detail {
namespace platform {
namespace {

thread_local dword last_error = 0;

}  // namespace

void set_last_error(dword code) noexcept { last_error = code; }

dword GetLastError() { return last_error; }

std::FILE* _wfopen(const wide_char* file_name, const wide_char* mode) {
    if (file_name == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const narrow_stackstring name(file_name);
    const narrow_stackstring narrow_mode(mode);
    return std::fopen(name.get(), narrow_mode.get());
}

std::FILE* _wfreopen(const wide_char* file_name, const wide_char* mode, std::FILE* stream) {
    if (file_name == nullptr || mode == nullptr || stream == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const narrow_stackstring name(file_name);
    const narrow_stackstring narrow_mode(mode);
    return std::freopen(name.get(), narrow_mode.get(), stream);
}

int _wremove(const wide_char* file_name) {
    if (file_name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const narrow_stackstring name(file_name);
    return std::remove(name.get());
}

int _wrename(const wide_char* old_name, const wide_char* new_name) {
    if (old_name == nullptr || new_name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const narrow_stackstring old_narrow(old_name);
    const narrow_stackstring new_narrow(new_name);
    return std::rename(old_narrow.get(), new_narrow.get());
}

}  // namespace platform
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
