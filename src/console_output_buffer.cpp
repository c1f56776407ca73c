// UTF-8 out to a UTF-16 console: the put area collects the program's bytes,
// and every flush converts them and writes the units with WriteConsoleW.
#include "console_buffers.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "platform/platform.hpp"

namespace wexal {
namespace u8port {
namespace detail {

console_output_buffer::console_output_buffer(void* handle) noexcept : handle_(handle) {}

// Pending bytes are dropped, not written: the owning stream flushes first.
console_output_buffer::~console_output_buffer() = default;

console_output_buffer::int_type console_output_buffer::overflow(int_type c) {
    if (handle_ == nullptr) return traits_type::eof();
    // Before the first call the put area is unset and both pointers are null.
    const int n = static_cast<int>(pptr() - pbase());
    int consumed = 0;
    if (n > 0) {
        int delivered = 0;
        consumed = write_to_console(buffer_, n, delivered);
        if (consumed < 0) {
            // What the console took before it failed is not offered again.
            if (delivered > 0) {
                std::memmove(buffer_, buffer_ + delivered, static_cast<std::size_t>(n - delivered));
                setp(buffer_, buffer_ + buffer_size);
                pbump(n - delivered);
            }
            return traits_type::eof();
        }
    }
    // At most three bytes of an incomplete sequence are carried to the front.
    const int carried = n - consumed;
    if (carried > 0 && consumed > 0) {
        std::memmove(buffer_, buffer_ + consumed, static_cast<std::size_t>(carried));
    }
    setp(buffer_, buffer_ + buffer_size);
    pbump(carried);
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
    return 0;
}

int console_output_buffer::sync() { return overflow(traits_type::eof()) == traits_type::eof() ? -1 : 0; }

int console_output_buffer::write_to_console(const char* p, int n, int& delivered) {
    delivered = 0;
    if (n < 0 || n > static_cast<int>(buffer_size)) return -1;
    const char* cursor = p;
    const char* const end = p + n;
    wide_char* out = wbuffer_;
    int consumed = 0;
    for (;;) {
        code_point c = utf8_codec::decode(cursor, end);
        // Only at the end: the input is used up, or it stops inside a sequence
        // whose remaining bytes are still to come.
        if (c == truncated_input) break;
        if (c == invalid_input) c = replacement_code_point;
        assert(out - wbuffer_ + encoder::width(c) <= static_cast<int>(wbuffer_size));
        out = encoder::encode(c, out);
        consumed = static_cast<int>(cursor - p);
    }
    int taken = 0;
    if (write_units(wbuffer_, static_cast<int>(out - wbuffer_), taken) < 0) {
        // Find the bytes of the whole code points among the units taken.
        cursor = p;
        int units = 0;
        for (;;) {
            const char* const before = cursor;
            const code_point c = utf8_codec::decode(cursor, end);
            // An incomplete sequence at the end was not written: it stays
            // pending, to be completed by the bytes still to come.
            if (c == truncated_input) {
                cursor = before;
                break;
            }
            units += encoder::width(c == invalid_input ? replacement_code_point : c);
            if (units > taken) {
                cursor = before;
                break;
            }
        }
        delivered = static_cast<int>(cursor - p);
        return -1;
    }
    delivered = consumed;
    return consumed;
}

int console_output_buffer::write_units(const wide_char* units, int count, int& taken) {
    taken = 0;
    // One call even for zero units, so a failing console is noticed (a
    // working one, Wine's too, takes zero units and succeeds).
    do {
        platform::dword written = 0;
        if (platform::WriteConsoleW(handle_, units + taken, static_cast<platform::dword>(count - taken), &written,
                                    nullptr) == 0) {
            return -1;
        }
        // A console that takes nothing would be asked for ever; the rest
        // counts as written.
        if (written == 0) break;
        taken += static_cast<int>(std::min<platform::dword>(written, static_cast<platform::dword>(count - taken)));
    } while (taken < count);
    return taken;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
