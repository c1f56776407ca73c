// What each platform gives the error text of system_error.cpp.
#ifndef WEXAL_U8PORT_ERROR_TEXT_HPP
#define WEXAL_U8PORT_ERROR_TEXT_HPP

#include <string>

namespace wexal {
namespace u8port {
namespace detail {

// The system's text for one of its error values (GetLastError's, errno's), UTF-8.
std::string system_message(int value);
// The C runtime's text for an errno value, UTF-8.
std::string errno_message(int value);

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_ERROR_TEXT_HPP
