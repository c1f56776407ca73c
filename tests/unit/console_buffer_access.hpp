// Reaches the private steps of the console buffers from the unit tests.
#ifndef WEXAL_TESTS_UNIT_CONSOLE_BUFFER_ACCESS_HPP
#define WEXAL_TESTS_UNIT_CONSOLE_BUFFER_ACCESS_HPP

#include <cstddef>

#include "windows/console_buffers.hpp"

namespace wexal {
namespace u8port {
namespace detail {

struct console_buffer_test_access {
    static int write_to_console(console_output_buffer& b, const char* p, int n) {
        int delivered = 0;
        return b.write_to_console(p, n, delivered);
    }
    static int overflow(console_output_buffer& b, int c) { return b.overflow(c); }
    static int underflow(console_input_buffer& b) { return b.underflow(); }
    static int pbackfail(console_input_buffer& b, int c) { return b.pbackfail(c); }
    static std::size_t wpending(const console_input_buffer& b) { return b.wpending_; }
    static std::size_t putback_store_size(const console_input_buffer& b) { return b.putback_store_.size(); }
};

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_TESTS_UNIT_CONSOLE_BUFFER_ACCESS_HPP
