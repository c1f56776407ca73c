// The stream classes on Windows. An output stream's buffer follows its
// standard handle (see console_buffers.hpp): UTF-16 to a console, the bytes
// unchanged anywhere else. An input stream decides once, here: on an
// interactive console it has a console buffer of its own, otherwise it reads
// through std::cin.
#include <wexal/u8port/iostream.hpp>

#include <iostream>

#include "console_buffers.hpp"
#include "standard_buffer.hpp"
#include "standard_streams.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace {

// True when the handle is an interactive console. A file, a pipe or an invalid
// handle value makes the console-mode query fail; a null handle (the process
// has no such standard handle) is not even asked about.
bool is_console_handle(win32::handle h) {
    if (h == nullptr) return false;
    win32::dword mode = 0;
    return win32::GetConsoleMode(h, &mode) != 0;
}

}  // namespace

// std::cin flushes u8::cout before it reads, as it flushes std::cout, so that
// a prompt written through u8::cout to a console shows first.
void tie_standard_input(winconsole_ostream& cout) { std::cin.tie(&cout); }

winconsole_ostream::winconsole_ostream(int fd, winconsole_ostream* tie_stream) : std::basic_ostream<char>(nullptr) {
    if (fd == 1) {
        buffer_.reset(new console_output_buffer(win32::std_output_handle, 1, std::cout));
    } else if (fd == 2) {
        buffer_.reset(new console_output_buffer(win32::std_error_handle, 2, std::cerr));
    } else {
        // No handle: where diagnostics go, so no text can end up among the
        // program's output.
        buffer_.reset(new standard_buffer(std::cerr));
    }
    rdbuf(buffer_.get());
    if (tie_stream != nullptr) tie(tie_stream);
}

winconsole_istream::winconsole_istream(winconsole_ostream* tie_stream) : std::basic_istream<char>(nullptr) {
    const win32::handle h = win32::GetStdHandle(win32::std_input_handle);
    if (is_console_handle(h)) {
        buffer_.reset(new console_input_buffer(h));
    } else {
        buffer_.reset(new standard_buffer(std::cin));
    }
    rdbuf(buffer_.get());
    if (tie_stream != nullptr) tie(tie_stream);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
