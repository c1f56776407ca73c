// The two stream classes behind cin, cout, cerr and clog. The choice between
// a console buffer of the stream's own and the standard stream's buffer is
// made once, here, at construction.
#include <wexal/u8port/iostream.hpp>

#include <iostream>

#include "console_buffers.hpp"
#include "platform/platform.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace {

// True when the handle is an interactive console. A file, a pipe or an invalid
// handle value makes the console-mode query fail; a null handle (the process
// has no such standard handle) is not even asked about.
bool is_console_handle(platform::handle h) {
    if (h == nullptr) return false;
    platform::dword mode = 0;
    return platform::GetConsoleMode(h, &mode) != 0;
}

}  // namespace

winconsole_ostream::winconsole_ostream(int fd, winconsole_ostream* tie_stream) : std::basic_ostream<char>(nullptr) {
    platform::handle h = nullptr;
    if (fd == 1) {
        h = platform::GetStdHandle(platform::std_output_handle);
    } else if (fd == 2) {
        h = platform::GetStdHandle(platform::std_error_handle);
    }
    if (is_console_handle(h)) {
        owned_buffer_.reset(new console_output_buffer(h));
        rdbuf(owned_buffer_.get());
    } else {
        // Borrowed, never owned. Anything that is not standard output writes
        // where diagnostics go, so no text can end up among the program's output.
        rdbuf(fd == 1 ? std::cout.rdbuf() : std::cerr.rdbuf());
    }
    if (tie_stream != nullptr) tie(tie_stream);
}

winconsole_ostream::~winconsole_ostream() {
    // The exception mask, a failing console or the tied stream may all throw
    // from here; none of that may leave a destructor.
    try {
        flush();
    } catch (...) {}
}

winconsole_istream::winconsole_istream(winconsole_ostream* tie_stream) : std::basic_istream<char>(nullptr) {
    const platform::handle h = platform::GetStdHandle(platform::std_input_handle);
    if (is_console_handle(h)) {
        owned_buffer_.reset(new console_input_buffer(h));
        rdbuf(owned_buffer_.get());
    } else {
        rdbuf(std::cin.rdbuf());
    }
    if (tie_stream != nullptr) tie(tie_stream);
}

winconsole_istream::~winconsole_istream() = default;

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
