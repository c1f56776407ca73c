// The file calls: each UTF-8 name becomes UTF-16 (a malformed sequence
// becomes U+FFFD), in its verbatim form where its full path is long, for the
// C runtime's wide call, whose result is returned unchanged.
#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/stackstring.hpp>

#include "common/long_path.hpp"
#include "file_names.hpp"
#include "fill_buffer.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {

std::FILE* fopen(const char* file_name, const char* mode) {
    const wide_stackstring wide_name(file_name);
    const wide_short_stackstring wide_mode(mode);
    const detail::system_file_name name(wide_name.get());
    return detail::win32::_wfopen(name.get(), wide_mode.get());
}

std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream) {
    const wide_stackstring wide_name(file_name);
    const wide_short_stackstring wide_mode(mode);
    const detail::system_file_name name(wide_name.get());
    return detail::win32::_wfreopen(name.get(), wide_mode.get(), stream);
}

int remove(const char* file_name) {
    const wide_stackstring wide_name(file_name);
    const detail::system_file_name name(wide_name.get());
    return detail::win32::_wremove(name.get());
}

int rename(const char* old_name, const char* new_name) {
    const wide_stackstring wide_old(old_name);
    const wide_stackstring wide_new(new_name);
    const detail::system_file_name old_system(wide_old.get());
    const detail::system_file_name new_system(wide_new.get());
    return detail::win32::_wrename(old_system.get(), new_system.get());
}

namespace detail {

std::FILE* wfopen(const wide_char* file_name, const wide_char* mode) { return win32::_wfopen(file_name, mode); }

std::basic_string<wide_char> long_path_form(const wide_char* name) {
    if (name == nullptr || !may_need_long_form(name, wide_length(name))) return {};
    return fill_wide_buffer<max_path>(
        [name](wide_char* buffer, win32::dword size) { return win32::GetFullPathNameW(name, size, buffer, nullptr); },
        [](const wide_char* full, win32::dword n) {
            // Short, or no full path (the call then fails as it would).
            if (n < max_path) return std::basic_string<wide_char>();
            return verbatim_form(std::basic_string<wide_char>(full, n));
        });
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
