#include <algorithm>

#include "fake_environment.hpp"
#include "windows/win32.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace win32 {
namespace {

test::fake_environment_state& env() { return test::fake_environment(); }

// The length when the text fits (terminator written), else the size needed;
// cut: the text cut to fit, terminated, and the capacity (GetModuleFileNameW).
dword give(const test::wide_string& text, wide_char* buffer, dword size, bool cut = false) {
    const dword n = std::min<dword>(static_cast<dword>(text.size()), size - 1);
    if (n == text.size() || cut) *std::copy(text.begin(), text.begin() + n, buffer) = 0;
    if (n == text.size()) return n;
    test::fake_last_error() = error_insufficient_buffer;
    return cut ? size : static_cast<dword>(text.size() + 1);
}

}  // namespace

dword GetModuleFileNameW(handle, wide_char* buffer, dword size) { return give(env().module_path, buffer, size, true); }
dword GetTempPathW(dword size, wide_char* buffer) { return give(env().temp_path, buffer, size); }
dword GetTempPath2W(dword size, wide_char* buffer) {
    if (env().temp_path2) return give(*env().temp_path2, buffer, size);
    test::fake_last_error() = error_proc_not_found;
    return 0;
}

int OpenProcessToken(handle, dword, handle* token) {
    *token = reinterpret_cast<handle>(0x70);
    return 1;
}

int GetUserProfileDirectoryW(handle, wide_char* buffer, dword* size) {
    const dword n = give(env().profile_path, buffer, *size);
    const bool fits = n < *size;
    *size = fits ? n + 1 : n;
    return fits;
}

dword FormatMessageW(dword, dword message_id, dword, wide_char* buffer, dword size) {
    const auto found = env().messages.find(message_id);
    test::fake_last_error() = 317;  // ERROR_MR_MID_NOT_FOUND
    const dword n = found == env().messages.end() ? 0 : give(found->second, buffer, size);
    return n < size ? n : 0;
}

const wide_char* _wcserror(int errno_value) {
    static const test::wide_string unknown = test::wide(u"Unknown error");
    const auto found = env().errno_texts.find(errno_value);
    return found == env().errno_texts.end() ? unknown.c_str() : found->second.c_str();
}

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
