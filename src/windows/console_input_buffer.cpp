// Console input back as UTF-8: each refill is one ReadConsoleW call whose
// units are converted into the buffer, each CR LF as LF; put-back bytes that
// do not fit in front of the read position go to a growing store. Every entry
// point holds the buffer's lock.
#include "console_buffers.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include <wexal/u8port/transcode.hpp>

#include "transcode/carry.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {
namespace detail {

namespace {

// Typed as Ctrl+Z at the start of a read, it ends the input there. (Wine's
// line editing takes Ctrl+Z as an editing key, so there it never arrives.)
constexpr wide_char end_of_file_unit = 0x1A;
constexpr wide_char carriage_return = 0x0D;

// Turns every CR LF in [begin, end) into LF, as a text-mode read does; a CR
// alone stays. Returns the new end. (The bytes 0D and 0A occur in UTF-8 only
// as the characters themselves.)
char* join_line_ends(char* begin, char* end) {
    char* out = static_cast<char*>(std::memchr(begin, '\r', static_cast<std::size_t>(end - begin)));
    if (out == nullptr) return end;
    const char* cr = out;
    while (cr != end) {
        const char* const from = cr + 1 != end && cr[1] == '\n' ? cr + 1 : cr;
        const char* next = static_cast<const char*>(std::memchr(cr + 1, '\r', static_cast<std::size_t>(end - cr - 1)));
        if (next == nullptr) next = end;
        std::memmove(out, from, static_cast<std::size_t>(next - from));
        out += next - from;
        cr = next;
    }
    return out;
}

}  // namespace

console_input_buffer::console_input_buffer(void* handle) noexcept
    : gbegin_(nullptr), gvalid_(nullptr), gnext_(nullptr), gend_(nullptr), handle_(handle), wpending_(0),
      end_pending_(false) {}

console_input_buffer::~console_input_buffer() = default;

console_input_buffer::int_type console_input_buffer::peek() {
    if (gnext_ != gend_) return traits_type::to_int_type(*gnext_);
    if (handle_ == nullptr) return traits_type::eof();
    // Refilled only when the get area is used up, so the store holds nothing
    // unread now; its storage stays for later put-backs.
    putback_store_.clear();
    std::int64_t n = read_again;
    while (n == read_again) n = read_from_console();
    gbegin_ = gvalid_ = gnext_ = buffer_;
    gend_ = buffer_ + n;
    if (n == end_of_input) return traits_type::eof();
    return traits_type::to_int_type(buffer_[0]);
}

console_input_buffer::int_type console_input_buffer::underflow() {
    const std::lock_guard<std::mutex> hold(lock_);
    return peek();
}

console_input_buffer::int_type console_input_buffer::uflow() {
    const std::lock_guard<std::mutex> hold(lock_);
    const int_type c = peek();
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++gnext_;
    return c;
}

std::streamsize console_input_buffer::xsgetn(char* s, std::streamsize n) {
    const std::lock_guard<std::mutex> hold(lock_);
    std::streamsize done = 0;
    while (done < n && !traits_type::eq_int_type(peek(), traits_type::eof())) {
        const std::streamsize k = std::min<std::streamsize>(n - done, gend_ - gnext_);
        std::memcpy(s + done, gnext_, static_cast<std::size_t>(k));
        gnext_ += k;
        done += k;
    }
    return done;
}

std::streamsize console_input_buffer::showmanyc() {
    const std::lock_guard<std::mutex> hold(lock_);
    return gend_ - gnext_;
}

std::int64_t console_input_buffer::read_from_console() {
    if (end_pending_) {
        end_pending_ = false;
        return end_of_input;
    }
    const win32::dword capacity = static_cast<win32::dword>(wbuffer_size - wpending_);
    const bool carried_cr = wpending_ != 0 && wbuffer_[0] == carriage_return;
    win32::dword read = 0;
    bool ended = win32::ReadConsoleW(handle_, wbuffer_ + wpending_, capacity, &read, nullptr) == 0;
    if (!ended && read == 0) {
        // Ctrl+C that the program handled: Windows cuts the read short and
        // input goes on. (Wine instead drops the line typed so far and keeps
        // reading.)
        if (win32::GetLastError() == win32::error_operation_aborted) return read_again;
        ended = true;
    }
    // Ctrl+Z counts at the start of a read, behind a carried CR too, but not
    // behind a carried lead surrogate.
    if (!ended && wbuffer_[wpending_] == end_of_file_unit && (wpending_ == 0 || carried_cr)) ended = true;
    if (ended) {
        // A carried lead surrogate stays for the next read; a carried CR is
        // delivered before the end of input.
        if (!carried_cr) return end_of_input;
        wpending_ = 0;
        end_pending_ = true;
        buffer_[0] = '\r';
        return 1;
    }
    read = std::min(read, capacity);

    // A lead surrogate at the end waits for its trail; so does a CR that ends
    // a read that filled the capacity, for the LF the next read may bring. A
    // CR ending a shorter read goes out at once: the console may give Enter
    // as a lone CR, and nothing more may come.
    const std::size_t units = wpending_ + read;
    const wide_char last = wbuffer_[units - 1];
    const bool cut_pair = incomplete_tail(wbuffer_, wbuffer_ + units) != 0;
    const std::size_t carry = cut_pair || (last == carriage_return && read == capacity) ? 1 : 0;
    const transcode_result<char, wide_char> converted = transcode(buffer_, buffer_size, wbuffer_,
                                                                  wbuffer_ + units - carry);
    assert(converted.complete);
    const char* const end = join_line_ends(buffer_, converted.out);
    wpending_ = carry;
    if (carry != 0) wbuffer_[0] = last;
    // Only a lead surrogate arrived: more input is on its way.
    if (end == buffer_) return read_again;
    return end - buffer_;
}

console_input_buffer::int_type console_input_buffer::pbackfail(int_type c) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        // Only over a byte that was read: what lies before holds no input.
        if (gnext_ == gvalid_) return traits_type::eof();
        --gnext_;
        return traits_type::to_int_type(*gnext_);
    }
    const char byte = traits_type::to_char_type(c);
    if (gnext_ != gbegin_) {
        *--gnext_ = byte;
        gvalid_ = std::min(gvalid_, gnext_);
        return 0;
    }
    if (putback_store_.empty()) {
        // The get area lies in buffer_ (or is unset): the store takes the byte
        // and whatever is still unread there, which follows it.
        const std::size_t unread = static_cast<std::size_t>(gend_ - gnext_);
        putback_store_.resize(4 + unread);
        if (unread != 0) std::memcpy(putback_store_.data() + 4, gnext_, unread);
        gbegin_ = putback_store_.data();
        gvalid_ = gnext_ = gbegin_ + 3;
        gend_ = gbegin_ + putback_store_.size();
        *gnext_ = byte;
        return 0;
    }
    // The get area is the whole store and the read position at its start:
    // double it, with the unread bytes in the upper half.
    const std::size_t n = putback_store_.size();
    std::vector<char> grown(2 * n);
    std::memcpy(grown.data() + n, putback_store_.data(), n);
    grown[n - 1] = byte;
    putback_store_.swap(grown);
    gbegin_ = putback_store_.data();
    gvalid_ = gnext_ = gbegin_ + n - 1;
    gend_ = gbegin_ + 2 * n;
    return 0;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
