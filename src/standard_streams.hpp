// What the rest of the library needs of the standard stream objects.
#ifndef WEXAL_U8PORT_SRC_STANDARD_STREAMS_HPP
#define WEXAL_U8PORT_SRC_STANDARD_STREAMS_HPP

namespace wexal {
namespace u8port {
namespace detail {

// Writes out what cout and clog hold, so that output written before another
// program starts shows before that program's own. Called by every call that
// starts a program; safe before the streams exist and after they are done.
void flush_standard_streams() noexcept;

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_STANDARD_STREAMS_HPP
