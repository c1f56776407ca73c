// The one check of the byte forwards: a null name is refused with EINVAL and
// the call's failure value, where the C library would crash.
#ifndef WEXAL_U8PORT_POSIX_NULL_NAMES_HPP
#define WEXAL_U8PORT_POSIX_NULL_NAMES_HPP

#include <cerrno>

namespace wexal {
namespace u8port {
namespace detail {

template <typename... T>
bool refuse_null(const T*... names) noexcept {
    if (((names != nullptr) && ...)) return false;
    errno = EINVAL;
    return true;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_POSIX_NULL_NAMES_HPP
