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

}  // namespace

bool is_verbatim_or_device(const wide_char* s) noexcept {
    if (is_separator(s[0]) && is_separator(s[1]) && (s[2] == '?' || s[2] == '.') && is_separator(s[3])) return true;
    return s[0] == '\\' && s[1] == '?' && s[2] == '?' && s[3] == '\\';
}

bool may_need_long_form(const wide_char* name, std::size_t length) noexcept {
    if (is_verbatim_or_device(name)) return false;
    return !(is_absolute(name) && length < max_path);
}

std::basic_string<wide_char> verbatim_form(std::basic_string<wide_char> full) {
    if (full.size() < max_path) return {};
    constexpr auto verbatim = ascii("\\\\?\\");
    constexpr auto verbatim_unc = ascii("\\\\?\\UNC\\");
    if (full.size() >= 2 && is_separator(full[0]) && is_separator(full[1])) {
        return full.replace(0, 2, verbatim_unc.text, verbatim_unc.size);
    }
    return full.insert(0, verbatim.text, verbatim.size);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
