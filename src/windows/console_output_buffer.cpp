// UTF-8 out to a UTF-16 console: a locked buffer collects the program's
// bytes, and every end of line, flush or full buffer converts them and writes
// the units with WriteConsoleW; a standard stream's buffer first looks where
// its standard handle points.
#include "console_buffers.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <wexal/u8port/transcode.hpp>

#include "transcode/carry.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {
namespace detail {

console_output_buffer::console_output_buffer(void* handle) noexcept
    : pending_(0), handle_(handle), which_(0), fd_(-1), standard_(nullptr), console_(true) {}

console_output_buffer::console_output_buffer(std::uint32_t which, int fd, std::basic_ios<char>& standard) noexcept
    : pending_(0), handle_(nullptr), which_(which), fd_(fd), standard_(&standard), console_(false) {}

namespace {

// The last '\n' among the n bytes at p, or null; eight bytes a step.
const char* last_newline(const char* p, std::size_t n) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    while (n >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p + n - 8, 8);
        const std::uint64_t x = word ^ (ones * '\n');
        // A zero byte of x (a newline) sets its high bit here; bytes above
        // the first zero may be set falsely, so the bytes are checked.
        if (((x - ones) & ~x & (ones << 7)) != 0) break;
        n -= 8;
    }
    while (n != 0) {
        if (p[--n] == '\n') return p + n;
    }
    return nullptr;
}

// A file, a pipe or an invalid handle value makes the console-mode query
// fail; a null handle (no such standard handle) is not even asked about.
bool is_console(void* h) {
    if (h == nullptr) return false;
    win32::dword mode = 0;
    return win32::GetConsoleMode(h, &mode) != 0;
}

}  // namespace

// Pending bytes are dropped, not written: the owning stream flushes first.
console_output_buffer::~console_output_buffer() = default;

console_output_buffer::target console_output_buffer::follow() {
    if (which_ == 0) return target::console;
    void* const h = win32::GetStdHandle(which_);
    if (h != handle_) {
        handle_ = h;
        console_ = is_console(h);
    }
    if (console_) return target::console;
    const target to = h == nullptr || win32::_get_osfhandle(fd_) == h ? target::standard : target::handle;
    if (pending_ != 0) {
        write_bytes(to, buffer_, pending_);
        pending_ = 0;
    }
    return to;
}

bool console_output_buffer::lost_console() {
    if (which_ == 0 || is_console(handle_)) return false;
    console_ = false;
    return true;
}

std::streamsize console_output_buffer::write_bytes(target to, const char* s, std::size_t n) {
    if (to == target::standard) {
        std::basic_streambuf<char>* const standard = standard_->rdbuf();
        return standard == nullptr ? 0 : standard->sputn(s, static_cast<std::streamsize>(n));
    }
    std::size_t done = 0;
    while (done < n) {
        win32::dword written = 0;
        const win32::dword size = static_cast<win32::dword>(std::min<std::size_t>(n - done, 1u << 30));
        if (win32::WriteFile(handle_, s + done, size, &written, nullptr) == 0 || written == 0) break;
        done += written;
    }
    return static_cast<std::streamsize>(done);
}

namespace {

bool flushed(std::basic_ios<char>* standard) {
    return standard->rdbuf() != nullptr && standard->rdbuf()->pubsync() == 0;
}

}  // namespace

console_output_buffer::int_type console_output_buffer::overflow(int_type c) {
    const std::lock_guard<std::mutex> hold(lock_);
    const bool flush = traits_type::eq_int_type(c, traits_type::eof());
    const char byte = traits_type::to_char_type(c);
    target to = follow();
    if (to == target::console) {
        if (handle_ == nullptr) return traits_type::eof();
        if (!flush) return put(&byte, 1) == 1 ? 0 : traits_type::eof();
        if (write_out(pending_)) return 0;
        if (!lost_console()) return traits_type::eof();
        to = follow();
    }
    if (flush) return to == target::handle || flushed(standard_) ? 0 : traits_type::eof();
    return write_bytes(to, &byte, 1) == 1 ? 0 : traits_type::eof();
}

std::streamsize console_output_buffer::xsputn(const char* s, std::streamsize n) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (n <= 0) return 0;
    const target to = follow();
    if (to != target::console) return write_bytes(to, s, static_cast<std::size_t>(n));
    if (handle_ == nullptr) return 0;
    return put(s, static_cast<std::size_t>(n));
}

int console_output_buffer::sync() {
    const std::lock_guard<std::mutex> hold(lock_);
    target to = follow();
    if (to == target::console) {
        if (handle_ == nullptr) return -1;
        if (write_out(pending_)) return 0;
        if (!lost_console()) return -1;
        to = follow();
    }
    return to == target::handle || flushed(standard_) ? 0 : -1;
}

std::streamsize console_output_buffer::put(const char* s, std::size_t n) {
    std::size_t taken = 0;
    while (taken < n) {
        if (pending_ == 0 && n - taken > buffer_size) {
            // A whole buffer's worth with more to come goes out straight from
            // the caller's bytes; a sequence cut at its end goes with the rest.
            int delivered = 0;
            const int consumed = write_to_console(s + taken, static_cast<int>(buffer_size), delivered);
            if (consumed < 0) {
                taken += static_cast<std::size_t>(delivered);
                if (!lost_console()) return static_cast<std::streamsize>(taken);
                return static_cast<std::streamsize>(taken) + write_bytes(follow(), s + taken, n - taken);
            }
            taken += static_cast<std::size_t>(consumed);
            continue;
        }
        // A full buffer holds at most three bytes of a sequence once written.
        if (pending_ == buffer_size && !write_out(pending_)) {
            if (!lost_console()) break;
            return static_cast<std::streamsize>(taken) + write_bytes(follow(), s + taken, n - taken);
        }
        const std::size_t k = std::min(buffer_size - pending_, n - taken);
        std::memcpy(buffer_ + pending_, s + taken, k);
        pending_ += k;
        taken += k;
    }
    // The bytes after the last newline are the last ones stored; whatever
    // stands before them among the pending ones goes out now.
    const std::size_t tail = std::min(taken, pending_);
    const char* const newline = last_newline(buffer_ + pending_ - tail, tail);
    if (newline != nullptr && !write_out(static_cast<std::size_t>(newline + 1 - buffer_))) {
        if (lost_console()) {
            follow();  // hands over what is pending
            return static_cast<std::streamsize>(taken);
        }
        // What of this call the console did not take is not kept: the stream
        // fails at once, and a program that writes it again writes it once.
        const std::size_t unwritten = std::min(tail, pending_);
        pending_ -= unwritten;
        taken -= unwritten;
    }
    return static_cast<std::streamsize>(taken);
}

bool console_output_buffer::write_out(std::size_t n) {
    if (n == 0) return true;
    int delivered = 0;
    const int consumed = write_to_console(buffer_, static_cast<int>(n), delivered);
    // What the console took before it failed is not offered again; an
    // incomplete sequence at the end stays in front of the bytes after it.
    const std::size_t done = static_cast<std::size_t>(consumed < 0 ? delivered : consumed);
    if (done > 0) std::memmove(buffer_, buffer_ + done, pending_ - done);
    pending_ -= done;
    return consumed >= 0;
}

int console_output_buffer::write_to_console(const char* p, int n, int& delivered) {
    delivered = 0;
    if (n < 0 || n > static_cast<int>(buffer_size)) return -1;
    // A whole put area fits: one unit per byte at most.
    // An incomplete sequence at the end waits for the rest of its bytes.
    const int consumed = n - static_cast<int>(incomplete_tail(p, p + n));
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
        win32::dword written = 0;
        if (win32::WriteConsoleW(handle_, units + taken, static_cast<win32::dword>(count - taken), &written, nullptr) ==
            0) {
            return -1;
        }
        // A console that takes nothing would be asked for ever; the rest
        // counts as written.
        if (written == 0) break;
        taken += static_cast<int>(std::min<win32::dword>(written, static_cast<win32::dword>(count - taken)));
    } while (taken < count);
    return taken;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
