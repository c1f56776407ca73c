#include "long_path.hpp"

#include "ascii.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace {

bool is_separator(wide_char c) noexcept { return c == '\\' || c == '/'; }

bool is_drive_letter(wide_char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_absolute(const wide_char* s) noexcept {
    if (is_drive_letter(s[0]) && s[1] == ':' && is_separator(s[2])) return true;
    return is_separator(s[0]) && is_separator(s[1]);
}

// Exactly "\\?\", or the NT form "\??\": passed on as they are.
bool is_verbatim(const wide_char* s) noexcept {
    return s[0] == '\\' && (s[1] == '\\' || s[1] == '?') && s[2] == '?' && s[3] == '\\';
}

// "\\.\" or "\\?\" with either separator: a device name, which Win32
// normalises like any other.
bool is_device(const wide_char* s) noexcept {
    return is_separator(s[0]) && is_separator(s[1]) && (s[2] == '.' || s[2] == '?') && is_separator(s[3]);
}

}  // namespace

bool may_need_long_form(const wide_char* name, std::size_t length) noexcept {
    if (is_verbatim(name)) return false;
    if (is_device(name) || is_absolute(name)) return length >= max_path;
    return true;
}

std::basic_string<wide_char> verbatim_form(std::basic_string<wide_char> full) {
    if (full.size() < max_path) return {};
    if (is_verbatim(full.c_str())) return full;
    constexpr auto verbatim = ascii("\\\\?\\");
    if (is_device(full.c_str())) return full.replace(0, verbatim.size, verbatim.text, verbatim.size);
    if (is_separator(full[0]) && is_separator(full[1])) {
        constexpr auto verbatim_unc = ascii("\\\\?\\UNC\\");
        return full.replace(0, 2, verbatim_unc.text, verbatim_unc.size);
    }
    return full.insert(0, verbatim.text, verbatim.size);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
