// The stand-in platform's per-thread last error, as GetLastError reports it.
#ifndef WEXAL_U8PORT_PLATFORM_POSIX_LAST_ERROR_HPP
#define WEXAL_U8PORT_PLATFORM_POSIX_LAST_ERROR_HPP

#include "platform.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace platform {

void set_last_error(dword code) noexcept;

}  // namespace platform
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_PLATFORM_POSIX_LAST_ERROR_HPP
