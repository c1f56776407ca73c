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

class winconsole_ostream;
// Makes the standard library's std::cin flush the library's cout before it
// reads, where cout holds bytes of its own (a Windows console). Called once,
// when the four objects are made.
void tie_standard_input(winconsole_ostream& cout);

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_STANDARD_STREAMS_HPP
