#include <wexal/u8port/cstdio.hpp>

#include <wexal/u8port/stackstring.hpp>

#include "platform/platform.hpp"

namespace wexal {
namespace u8port {

#if defined(_WIN32)

std::FILE* fopen(const char* file_name, const char* mode) {
    const wide_stackstring wide_name(file_name);
    const wide_short_stackstring wide_mode(mode);
    const detail::system_file_name name(wide_name.get());
    return detail::platform::_wfopen(name.get(), wide_mode.get());
}

std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream) {
    const wide_stackstring wide_name(file_name);
    const wide_short_stackstring wide_mode(mode);
    const detail::system_file_name name(wide_name.get());
    return detail::platform::_wfreopen(name.get(), wide_mode.get(), stream);
}

int remove(const char* file_name) {
    const wide_stackstring wide_name(file_name);
    const detail::system_file_name name(wide_name.get());
    return detail::platform::_wremove(name.get());
}

int rename(const char* old_name, const char* new_name) {
    const wide_stackstring wide_old(old_name);
    const wide_stackstring wide_new(new_name);
    const detail::system_file_name old_system(wide_old.get());
    const detail::system_file_name new_system(wide_new.get());
    return detail::platform::_wrename(old_system.get(), new_system.get());
}

namespace detail {
namespace {

// Windows refuses a full path of this many units or more (MAX_PATH counts the
// terminator) unless it comes in the verbatim form.
constexpr std::size_t max_path = 260;

bool is_separator(wchar_t c) noexcept { return c == L'\\' || c == L'/'; }

bool is_drive_letter(wchar_t c) noexcept { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "\\?\", "\\.\" (either separator) and the NT form "\??\": Win32 hands
// these on without its own length limit; they pass unchanged.
bool is_verbatim_or_device(const wchar_t* s) noexcept {
    if (is_separator(s[0]) && is_separator(s[1]) && (s[2] == L'?' || s[2] == L'.') && is_separator(s[3])) return true;
    return s[0] == L'\\' && s[1] == L'?' && s[2] == L'?' && s[3] == L'\\';
}

// "C:\..." or "\\server\...": resolving it never makes it longer.
bool is_absolute(const wchar_t* s) noexcept {
    if (is_drive_letter(s[0]) && s[1] == L':' && is_separator(s[2])) return true;
    return is_separator(s[0]) && is_separator(s[1]);
}

}  // namespace

std::wstring long_path_form(const wchar_t* name) {
    if (name == nullptr || is_verbatim_or_device(name)) return {};
    if (is_absolute(name) && std::char_traits<wchar_t>::length(name) < max_path) return {};

    wchar_t probe[max_path];
    platform::dword n = platform::GetFullPathNameW(name, max_path, probe, nullptr);
    if (n < max_path) return {};  // short, or no full path (the call then fails as it would)
    // n is the size needed; the current directory may change between two
    // calls, so size again until the path fits.
    std::wstring full;
    for (;;) {
        full.assign(n, L'\0');
        const platform::dword m = platform::GetFullPathNameW(name, n, &full[0], nullptr);
        if (m == 0) return {};
        if (m < n) {
            full.resize(m);
            break;
        }
        n = m;
    }
    if (full.size() < max_path) return {};
    if (full.size() >= 2 && is_separator(full[0]) && is_separator(full[1])) {
        return full.replace(0, 2, L"\\\\?\\UNC\\");
    }
    return full.insert(0, L"\\\\?\\");
}

}  // namespace detail

#else

// Names are bytes here: they reach the C library as they are.
std::FILE* fopen(const char* file_name, const char* mode) { return detail::platform::fopen(file_name, mode); }

std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream) {
    return detail::platform::freopen(file_name, mode, stream);
}

int remove(const char* file_name) { return detail::platform::remove(file_name); }

int rename(const char* old_name, const char* new_name) { return detail::platform::rename(old_name, new_name); }

#endif

namespace detail {

std::FILE* wfopen(const wide_char* file_name, const wide_char* mode) { return platform::_wfopen(file_name, mode); }

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
