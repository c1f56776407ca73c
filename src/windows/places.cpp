// The program's places on Windows: each asked of the system in UTF-16, whole
// (grown until it fits), and handed out in the lossless UTF-8 form, so that a
// name holding an unpaired surrogate still reaches its file through the
// library's calls.
#include <wexal/u8port/cstdlib.hpp>

#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/system_error.hpp>

#include "common/ascii.hpp"
#include "fill_buffer.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {
namespace {

namespace win32 = detail::win32;

// Most paths fit here; a longer one is asked for again at its size.
constexpr std::size_t probe_size = 260;

[[noreturn]] void fail(const char* what) {
    throw std::system_error(static_cast<int>(win32::GetLastError()), u8port::system_category(), what);
}

template <typename Fill>
std::string filled(Fill&& fill, const char* what) {
    return detail::fill_wide_buffer<probe_size>(fill, [what](const wide_char* text, win32::dword n) {
        if (n == 0) fail(what);
        return narrow(wide_string_view(text, n), lossless);
    });
}

// The profile folder the system records for the user of this process.
std::string profile_directory() {
    win32::handle token = nullptr;
    if (win32::OpenProcessToken(win32::GetCurrentProcess(), win32::token_query, &token) == 0) fail("home_directory");
    struct closer {
        win32::handle token;
        ~closer() { win32::CloseHandle(token); }
    } const close{token};
    return filled(
        [token](wide_char* buffer, win32::dword size) -> win32::dword {
            win32::dword n = size;
            if (win32::GetUserProfileDirectoryW(token, buffer, &n) != 0) return n - 1;
            return win32::GetLastError() == win32::error_insufficient_buffer ? n : 0;
        },
        "home_directory");
}

}  // namespace

std::string executable_path() {
    return filled([](wide_char* buffer, win32::dword size) { return win32::GetModuleFileNameW(nullptr, buffer, size); },
                  "executable_path");
}

std::string temp_directory() {
    std::string path = filled(
        [](wide_char* buffer, win32::dword size) {
            const win32::dword n = win32::GetTempPath2W(size, buffer);
            if (n != 0 || win32::GetLastError() != win32::error_proc_not_found) return n;
            return win32::GetTempPathW(size, buffer);
        },
        "temp_directory");
    // The system ends the path with a separator; a root ("C:\", "\\?\C:\") keeps it.
    if (path.size() > 1 && (path.back() == '\\' || path.back() == '/') && path[path.size() - 2] != ':' &&
        path[path.size() - 2] != '\\')
        path.pop_back();
    return path;
}

std::string home_directory() {
    static constexpr auto name = detail::ascii("USERPROFILE");
    std::string home = detail::fill_wide_buffer<probe_size>(
        [](wide_char* buffer, win32::dword size) { return win32::GetEnvironmentVariableW(name.text, buffer, size); },
        [](const wide_char* text, win32::dword n) { return narrow(wide_string_view(text, n), lossless); });
    return home.empty() ? profile_directory() : home;
}

}  // namespace u8port
}  // namespace wexal
