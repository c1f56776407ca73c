// The stream classes on Linux: a terminal takes and gives bytes as a pipe or
// a file does, so every stream goes through the standard library's stream of
// its kind, and behaves as it does (bytes unchanged, an interrupted read ends
// as std::cin's does, a non-blocking terminal as with std::cout).
#include <wexal/u8port/iostream.hpp>

#include <iostream>

#include "standard_buffer.hpp"
#include "standard_streams.hpp"

namespace wexal {
namespace u8port {
namespace detail {

// Anything that is not standard output writes where diagnostics go, so no
// text can end up among the program's output.
// u8::cout writes through std::cout at once, so std::cin's own tie keeps it
// flushed.
void tie_standard_input(winconsole_ostream&) {}

winconsole_ostream::winconsole_ostream(int fd, winconsole_ostream* tie_stream)
    : std::basic_ostream<char>(nullptr), buffer_(new standard_buffer(fd == 1 ? std::cout : std::cerr)) {
    rdbuf(buffer_.get());
    if (tie_stream != nullptr) tie(tie_stream);
}

winconsole_istream::winconsole_istream(winconsole_ostream* tie_stream)
    : std::basic_istream<char>(nullptr), buffer_(new standard_buffer(std::cin)) {
    rdbuf(buffer_.get());
    if (tie_stream != nullptr) tie(tie_stream);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
