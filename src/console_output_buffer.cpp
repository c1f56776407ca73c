// UTF-8 out to a UTF-16 console: the put area collects the program's bytes,
// and every flush converts them and writes the units with WriteConsoleW.
#include "console_buffers.hpp"

#include <algorithm>
#include <cstring>

#include <wexal/u8port/transcode.hpp>

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

namespace {

// The length of the part of [p, p + n) before a trailing incomplete sequence:
// a lead byte followed by fewer continuation bytes than it announces, up to
// the end. Three bytes back suffice, as no sequence is longer than four.
int complete_prefix(const char* p, int n) {
    for (int back = 1; back <= 3 && back <= n; ++back) {
        const unsigned char b = static_cast<unsigned char>(p[n - back]);
        if (utf8_codec::is_continuation(b)) continue;
        return utf8_codec::trail_count(b) >= back ? n - back : n;
    }
    return n;
}

}  // namespace

int console_output_buffer::write_to_console(const char* p, int n, int& delivered) {
    delivered = 0;
    if (n < 0 || n > static_cast<int>(buffer_size)) return -1;
    // A whole put area fits: one unit per byte at most.
    const int consumed = complete_prefix(p, n);
    const wide_char* const units = transcode(wbuffer_, wbuffer_size, p, p + consumed).out;
    int taken = 0;
    if (write_units(wbuffer_, static_cast<int>(units - wbuffer_), taken) < 0) {
        // The bytes of the whole code points among the units taken: those a
        // conversion into exactly that many units gets through.
        delivered = static_cast<int>(transcode(wbuffer_, static_cast<std::size_t>(taken), p, p + consumed).in - p);
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
