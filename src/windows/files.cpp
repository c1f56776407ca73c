// The file calls: each name as file_names.hpp converts it, for the C
// runtime's wide call, whose result is returned unchanged.
#include <wexal/u8port/cstdio.hpp>

#include <cstring>
#include <string_view>

#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/fstream.hpp>
#include <wexal/u8port/stackstring.hpp>

#include "common/long_path.hpp"
#include "file_names.hpp"
#include "fill_buffer.hpp"
#include "surrogate_forms.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {

std::FILE* fopen(const char* file_name, const char* mode) {
    const detail::system_name name(file_name);
    const wide_short_stackstring wide_mode(mode);
    return detail::win32::_wfopen(name.get(), wide_mode.get());
}

std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream) {
    const detail::system_name name(file_name);
    const wide_short_stackstring wide_mode(mode);
    return detail::win32::_wfreopen(name.get(), wide_mode.get(), stream);
}

int remove(const char* file_name) {
    const detail::system_name name(file_name);
    return detail::win32::_wremove(name.get());
}

int rename(const char* old_name, const char* new_name) {
    const detail::system_name old_system(old_name);
    const detail::system_name new_system(new_name);
    return detail::win32::_wrename(old_system.get(), new_system.get());
}

namespace detail {

std::FILE* wfopen(const wide_char* file_name, const wide_char* mode) { return win32::_wfopen(file_name, mode); }

const wide_char* to_system_name(const char* begin, const char* end, wide_stackstring& converted,
                                std::basic_string<wide_char>& spill) {
    if (begin == nullptr) begin = end = "";
    if (find_surrogate_form(begin, end) != end) {
        spill = widen(std::string_view(begin, static_cast<std::size_t>(end - begin)), lossless);
        std::basic_string<wide_char> long_form = long_path_form(spill.c_str());
        if (!long_form.empty()) spill = std::move(long_form);
        return spill.c_str();
    }
    converted.convert(begin, end);
    spill = long_path_form(converted.get());
    return spill.empty() ? converted.get() : spill.c_str();
}

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
