// Error text in UTF-8. On Windows the standard library's messages
// (std::system_category().message(), std::system_error::what(),
// std::filesystem::filesystem_error::what()) come in the ANSI code page, and
// the paths in a filesystem_error's what() lose every character that page
// lacks; these give the same text in UTF-8. Elsewhere they give the C
// library's text (strerror), as the standard library does.
#ifndef WEXAL_U8PORT_SYSTEM_ERROR_HPP
#define WEXAL_U8PORT_SYSTEM_ERROR_HPP

#include <filesystem>
#include <string>
#include <system_error>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {

// The category of the system's error values (GetLastError's on Windows, errno's
// elsewhere), named "system": the values of std::system_category(), mapped to
// the same conditions (so code == std::errc::no_such_file_or_directory holds
// for ERROR_FILE_NOT_FOUND), but message() is UTF-8: on Windows the system's
// text from FormatMessageW, without the line break and full stop that end it
// ("unknown error N" for a value the system has no text for). Every
// std::system_error the library throws for a system error uses it, so what()
// is UTF-8 there too.
WEXAL_U8PORT_API const std::error_category& system_category() noexcept;

// The text of an error code in UTF-8: the system's text for a code of either
// system category (this one or the standard one), strerror's text for a code
// of std::generic_category(), the category's own message() otherwise.
WEXAL_U8PORT_API std::string error_message(const std::error_code& code);
// strerror's text for an errno value, in UTF-8 (on Windows the C runtime's
// wide text, _wcserror).
WEXAL_U8PORT_API std::string error_message(int errno_value);

// What the error's what() says, in UTF-8 and with the paths whole, in the
// shape of libstdc++'s: "filesystem error: <operation>: <message> [<path1>]
// [<path2>]", each path given only when not empty. The operation is the text
// that what() holds between its "filesystem error: " opening (when present)
// and the standard library's message of the code; the message is
// error_message(e.code()) and the paths are to_utf8 of path1() and path2().
WEXAL_U8PORT_API std::string describe(const std::filesystem::filesystem_error& e);

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SYSTEM_ERROR_HPP
