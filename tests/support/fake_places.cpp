#include <algorithm>

#include "fake_environment.hpp"
#include "windows/win32.hpp"

namespace wexal {
namespace test {
namespace {

// A path call's answer: the length when it fits, else the size needed.
std::uint32_t give(const wide_string& text, u8port::wide_char* buffer, std::uint32_t size) {
    if (text.size() >= size) return static_cast<std::uint32_t>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<std::uint32_t>(text.size());
}

}  // namespace
}  // namespace test

namespace u8port {
namespace detail {
namespace win32 {

// Cut to fit and terminated, the capacity returned, as Windows does.
dword GetModuleFileNameW(handle, wide_char* buffer, dword size) {
    const test::wide_string& path = test::fake_environment().module_path;
    const dword n = std::min<dword>(static_cast<dword>(path.size()), size - 1);
    std::copy(path.begin(), path.begin() + n, buffer);
    buffer[n] = 0;
    if (n == path.size()) return n;
    test::fake_last_error() = error_insufficient_buffer;
    return size;
}

dword GetTempPath2W(dword size, wide_char* buffer) {
    const auto& path = test::fake_environment().temp_path2;
    if (path) return test::give(*path, buffer, size);
    test::fake_last_error() = error_proc_not_found;
    return 0;
}

dword GetTempPathW(dword size, wide_char* buffer) {
    return test::give(test::fake_environment().temp_path, buffer, size);
}

int OpenProcessToken(handle, dword, handle* token) {
    *token = reinterpret_cast<handle>(0x70);
    return 1;
}

int GetUserProfileDirectoryW(handle, wide_char* buffer, dword* size) {
    const dword n = test::give(test::fake_environment().profile_path, buffer, *size);
    if (n < *size) {
        *size = n + 1;
        return 1;
    }
    *size = n;
    test::fake_last_error() = error_insufficient_buffer;
    return 0;
}

dword FormatMessageW(dword, dword message_id, dword, wide_char* buffer, dword size) {
    const auto& messages = test::fake_environment().messages;
    const auto found = messages.find(message_id);
    const dword n = found == messages.end() ? 0 : test::give(found->second, buffer, size);
    if (n < size && n != 0) return n;
    test::fake_last_error() = n == 0 ? 317 : error_insufficient_buffer;  // ERROR_MR_MID_NOT_FOUND
    return 0;
}

const wide_char* _wcserror(int errno_value) {
    static test::wide_string unknown = test::wide(u"Unknown error");
    const auto& texts = test::fake_environment().errno_texts;
    const auto found = texts.find(errno_value);
    return found == texts.end() ? unknown.c_str() : found->second.c_str();
}

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
