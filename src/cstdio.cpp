#include <wexal/u8port/cstdio.hpp>

#include <wexal/u8port/stackstring.hpp>

#include "platform/platform.hpp"

namespace wexal {
namespace u8port {

std::FILE* fopen(const char* file_name, const char* mode) {
    const wide_stackstring wide_name(file_name);
    const wide_short_stackstring wide_mode(mode);
    return detail::platform::_wfopen(wide_name.get(), wide_mode.get());
}

std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream) {
    const wide_stackstring wide_name(file_name);
    const wide_short_stackstring wide_mode(mode);
    return detail::platform::_wfreopen(wide_name.get(), wide_mode.get(), stream);
}

int remove(const char* file_name) {
    const wide_stackstring wide_name(file_name);
    return detail::platform::_wremove(wide_name.get());
}

int rename(const char* old_name, const char* new_name) {
    const wide_stackstring wide_old(old_name);
    const wide_stackstring wide_new(new_name);
    return detail::platform::_wrename(wide_old.get(), wide_new.get());
}

namespace detail {

std::FILE* wfopen(const wide_char* file_name, const wide_char* mode) { return platform::_wfopen(file_name, mode); }

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
