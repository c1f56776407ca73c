// Console input back as UTF-8: each refill is one ReadConsoleW call whose
// units are converted into the get area; put-back bytes that do not fit in
// front of the read position go to a growing store.
#include "console_buffers.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "platform/platform.hpp"

namespace wexal {
namespace u8port {
namespace detail {

namespace {

// Typed as Ctrl+Z at the start of a read, it ends the input there. (Wine's
// line editing takes Ctrl+Z as an editing key, so there it never arrives.)
constexpr wide_char end_of_file_unit = 0x1A;

}  // namespace

console_input_buffer::console_input_buffer(void* handle) noexcept : handle_(handle), wpending_(0) {}

console_input_buffer::~console_input_buffer() = default;

console_input_buffer::int_type console_input_buffer::underflow() {
    if (handle_ == nullptr) return traits_type::eof();
    // The base refills only when the get area is used up, so the store holds
    // nothing unread now; its storage stays for later put-backs.
    putback_store_.clear();
    std::int64_t n = read_again;
    while (n == read_again) n = read_from_console();
    setg(buffer_, buffer_, buffer_ + n);
    if (n == end_of_input) return traits_type::eof();
    return traits_type::to_int_type(buffer_[0]);
}

std::int64_t console_input_buffer::read_from_console() {
    const platform::dword capacity = static_cast<platform::dword>(wbuffer_size - wpending_);
    platform::dword read = 0;
    // A failed read leaves a carried lead surrogate in place for the next one.
    if (platform::ReadConsoleW(handle_, wbuffer_ + wpending_, capacity, &read, nullptr) == 0) return end_of_input;
    if (read == 0) {
        // Ctrl+C that the program handled: Windows cuts the read short and
        // input goes on. (Wine instead drops the line typed so far and keeps
        // reading; the Linux layer reports an interrupted read this way.)
        if (platform::GetLastError() == platform::error_operation_aborted) return read_again;
        return end_of_input;
    }
    read = std::min(read, capacity);
    if (wpending_ == 0 && wbuffer_[0] == end_of_file_unit) return end_of_input;

    const wide_char* cursor = wbuffer_;
    const wide_char* const end = wbuffer_ + wpending_ + read;
    char* out = buffer_;
    std::size_t unconverted = wpending_ + read;
    for (;;) {
        code_point c = utf16_codec::decode(cursor, end);
        // At the end of the units, or at a lead surrogate that is the last one.
        if (c == truncated_input) break;
        if (c == invalid_input) c = replacement_code_point;
        assert(out - buffer_ + encoder::width(c) <= static_cast<int>(buffer_size));
        out = encoder::encode(c, out);
        unconverted = static_cast<std::size_t>(end - cursor);
    }
    // 0, or 1 for a lead surrogate whose trail comes with the next read.
    wpending_ = unconverted;
    if (wpending_ != 0) std::memmove(wbuffer_, end - wpending_, wpending_ * sizeof(wide_char));
    // Only a lead surrogate arrived: more input is on its way.
    if (out == buffer_) return read_again;
    return out - buffer_;
}

console_input_buffer::int_type console_input_buffer::pbackfail(int_type c) {
    // Stepping back without a byte is the base's job wherever it can.
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::eof();
    const char byte = traits_type::to_char_type(c);
    if (gptr() != eback()) {
        gbump(-1);
        *gptr() = byte;
        return 0;
    }
    if (putback_store_.empty()) {
        // The get area lies in buffer_ (or is unset): the store takes the byte
        // and whatever is still unread there, which follows it.
        const std::size_t unread = static_cast<std::size_t>(egptr() - gptr());
        putback_store_.resize(4 + unread);
        if (unread != 0) std::memcpy(putback_store_.data() + 4, gptr(), unread);
        char* const base = putback_store_.data();
        setg(base, base + 3, base + putback_store_.size());
        *gptr() = byte;
        return 0;
    }
    // The get area is the whole store and the read position at its start:
    // double it, with the unread bytes in the upper half.
    const std::size_t n = putback_store_.size();
    std::vector<char> grown(2 * n);
    std::memcpy(grown.data() + n, putback_store_.data(), n);
    grown[n - 1] = byte;
    putback_store_.swap(grown);
    char* const base = putback_store_.data();
    setg(base, base + n - 1, base + 2 * n);
    return 0;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
