// The UTF-8 system category and the error text calls, over each platform's
// text (error_text.hpp).
#include <wexal/u8port/system_error.hpp>

#include <cstring>

#include <wexal/u8port/filesystem.hpp>

#include "error_text.hpp"

namespace wexal {
namespace u8port {
namespace {

class utf8_system_category final : public std::error_category {
public:
    const char* name() const noexcept override { return "system"; }
    std::string message(int value) const override { return detail::system_message(value); }
    // The standard category's conditions, so that comparing with a std::errc
    // gives what it gives for the standard category's codes.
    std::error_condition default_error_condition(int value) const noexcept override {
        return std::system_category().default_error_condition(value);
    }
};

// By name as well as by address: where each module holds its own C++ runtime
// (a UCRT build), a program's std::system_category() is another object than
// the library's.
bool is_category(const std::error_category& category, const std::error_category& standard) {
    return category == standard || std::strcmp(category.name(), standard.name()) == 0;
}

}  // namespace

const std::error_category& system_category() noexcept {
    static const utf8_system_category category;
    return category;
}

std::string error_message(const std::error_code& code) {
    if (is_category(code.category(), std::system_category())) return detail::system_message(code.value());
    if (is_category(code.category(), std::generic_category())) return detail::errno_message(code.value());
    return code.message();
}

std::string error_message(int errno_value) { return detail::errno_message(errno_value); }

std::string describe(const std::filesystem::filesystem_error& e) {
    // The operation: what() less the opening libstdc++ gives it, up to the
    // standard message of the code that what() was made with (in the same
    // runtime, so byte for byte the same), or else up to the first ": ".
    std::string_view what = e.what();
    constexpr std::string_view opening = "filesystem error: ";
    if (what.substr(0, opening.size()) == opening) what.remove_prefix(opening.size());
    const std::string standard_message = ": " + e.code().message();
    std::size_t end = what.find(standard_message);
    if (end == std::string_view::npos || e.code().message().empty()) end = what.find(": ");
    if (end == std::string_view::npos) end = 0;
    std::string text(opening);
    if (end != 0) text.append(what.substr(0, end)).append(": ");
    text += error_message(e.code());
    if (!e.path1().empty() || !e.path2().empty()) text.append(" [").append(to_utf8(e.path1())).append("]");
    if (!e.path2().empty()) text.append(" [").append(to_utf8(e.path2())).append("]");
    return text;
}

}  // namespace u8port
}  // namespace wexal
