// The error text of Linux: strerror's, as the standard library gives it
// (through strerror_r, safe from any thread). Bytes, as the C library makes
// them in the program's locale.
#include <system_error>

#include "error_text.hpp"

namespace wexal {
namespace u8port {
namespace detail {

std::string system_message(int value) { return std::generic_category().message(value); }

std::string errno_message(int value) { return std::generic_category().message(value); }

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
