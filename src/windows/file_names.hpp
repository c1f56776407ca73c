// The name a file call hands to Windows: the UTF-16 name as it is, or its
// verbatim form when its full path reaches MAX_PATH.
#ifndef WEXAL_U8PORT_WINDOWS_FILE_NAMES_HPP
#define WEXAL_U8PORT_WINDOWS_FILE_NAMES_HPP

#include <string>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// "\\?\" + the full path Win32 makes of the name, or "\\?\UNC\..." for a UNC
// name, when that path is MAX_PATH units or longer; empty for every other
// name (null, short, or already in a verbatim or device form). A short
// absolute name costs no system call; a relative one costs one, since a deep
// current directory can make it long. (Exported: the file streams' inline
// open() needs it.)
WEXAL_U8PORT_API std::basic_string<wide_char> long_path_form(const wide_char* name);

class system_file_name {
public:
    explicit system_file_name(const wide_char* name)
        : long_(long_path_form(name)), name_(long_.empty() ? name : long_.c_str()) {}
    system_file_name(const system_file_name&) = delete;
    system_file_name& operator=(const system_file_name&) = delete;

    const wide_char* get() const noexcept { return name_; }

private:
    std::basic_string<wide_char> long_;
    const wide_char* name_;
};

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_WINDOWS_FILE_NAMES_HPP
