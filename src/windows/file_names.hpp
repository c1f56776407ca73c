// The one conversion of a name that the program hands to a Windows call
// (every file call, the file streams, run's program and directory):
// UTF-8 to UTF-16, the three-byte form of a lone surrogate (ED A0..BF 80..BF,
// what to_utf8(path, lossless) gives for a name holding one) read as that
// surrogate, every other malformed sequence as U+FFFD; then, where its full
// path reaches MAX_PATH, the verbatim form. On the stack up to 255 bytes.
#ifndef WEXAL_U8PORT_WINDOWS_FILE_NAMES_HPP
#define WEXAL_U8PORT_WINDOWS_FILE_NAMES_HPP

#include <cstring>
#include <string>

#include <wexal/u8port/config.hpp>
#include <wexal/u8port/stackstring.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// Converts [begin, end) as above into converted, or into spill when it takes
// the lossless or the verbatim form, and returns the name to hand Windows.
// (Exported: the file streams' inline open() needs it.)
WEXAL_U8PORT_API const wide_char* to_system_name(const char* begin, const char* end, wide_stackstring& converted,
                                                 std::basic_string<wide_char>& spill);

// The same for a UTF-16 name: its verbatim form when its full path is long,
// else empty.
std::basic_string<wide_char> long_path_form(const wide_char* name);

// A name as a Windows call takes it, for the life of the object; a null name
// stays null.
class system_name {
public:
    explicit system_name(const char* name)
        : name_(name == nullptr ? nullptr : to_system_name(name, name + std::strlen(name), converted_, spill_)) {}
    system_name(const char* begin, const char* end) : name_(to_system_name(begin, end, converted_, spill_)) {}
    system_name(const system_name&) = delete;
    system_name& operator=(const system_name&) = delete;

    const wide_char* get() const noexcept { return name_; }

private:
    wide_stackstring converted_;
    std::basic_string<wide_char> spill_;
    const wide_char* name_;
};

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_WINDOWS_FILE_NAMES_HPP
