// The error text of Windows in UTF-8: the system's messages through
// FormatMessageW, the C runtime's through _wcserror.
#include <string>

#include <wexal/u8port/convert.hpp>

#include "error_text.hpp"
#include "fill_buffer.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace {

// The system's messages end in a full stop and a line break ("Access is
// denied.\r\n"), some in a space too; none of it belongs in a message that a
// caller puts in a sentence of its own.
std::string trimmed(wide_string_view text) {
    const auto is_trailing = [](wide_char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == '.'; };
    while (!text.empty() && is_trailing(text.back())) text.remove_suffix(1);
    return narrow(text);
}

}  // namespace

std::string system_message(int value) {
    std::string text = fill_wide_buffer<256>(
        [value](wide_char* buffer, win32::dword size) -> win32::dword {
            const win32::dword n = win32::FormatMessageW(win32::format_message_from_system,
                                                         static_cast<win32::dword>(value), 0, buffer, size);
            // Too small says nothing of the size needed: twice the room.
            return n == 0 && win32::GetLastError() == win32::error_insufficient_buffer ? size : n;
        },
        [](const wide_char* message, win32::dword n) { return trimmed(wide_string_view(message, n)); });
    return text.empty() ? "unknown error " + std::to_string(value) : text;
}

std::string errno_message(int value) {
    const wide_char* const text = win32::_wcserror(value);
    return text != nullptr ? trimmed(text) : "unknown error " + std::to_string(value);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
