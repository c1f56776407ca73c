// The stand-in for the console calls on non-Windows hosts: a terminal plays
// the console. A standard handle is its descriptor plus one (so that no valid
// handle is null), and it is a console when the descriptor is a terminal.
// Writes convert the units to UTF-8; reads take what the terminal delivers (a
// line in canonical mode) and convert it to UTF-16, keeping whatever did not
// fit, or an incomplete UTF-8 sequence, for the next read of that descriptor.
// Like the console buffers above it, one descriptor serves one thread at a time.
#include "platform.hpp"
#include "posix_last_error.hpp"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <wexal/u8port/transcode.hpp>
#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {
namespace detail {
namespace platform {
namespace {

constexpr dword error_invalid_handle = 6;      // ERROR_INVALID_HANDLE
constexpr dword error_not_enough_memory = 8;   // ERROR_NOT_ENOUGH_MEMORY
constexpr dword error_gen_failure = 31;        // ERROR_GEN_FAILURE
constexpr dword error_invalid_parameter = 87;  // ERROR_INVALID_PARAMETER
constexpr dword error_no_data = 232;           // ERROR_NO_DATA: the reader went away
constexpr dword error_success = 0;

// The modes a Windows console reports by default.
constexpr dword default_input_mode = 0x7;   // processed, line and echo input
constexpr dword default_output_mode = 0x3;  // processed output, wrap at end of line

handle handle_of(int fd) { return reinterpret_cast<handle>(static_cast<std::intptr_t>(fd) + 1); }

int descriptor_of(handle h) {
    const std::intptr_t value = reinterpret_cast<std::intptr_t>(h);
    return value >= 1 && value <= INT_MAX ? static_cast<int>(value - 1) : -1;
}

dword error_from_errno(int e) {
    switch (e) {
    case EBADF:
        return error_invalid_handle;
    case EINVAL:
        return error_invalid_parameter;
    case EPIPE:
        return error_no_data;
    default:
        return error_gen_failure;
    }
}

// Writes all n bytes, over partial writes and interrupted calls.
bool write_all(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Input read from one terminal and not yet handed out: UTF-8 bytes (at most
// one read's worth, behind an incomplete sequence of up to three bytes) and
// the trail surrogate of a pair that a one-unit read had to split.
struct pending_input {
    static constexpr std::size_t read_size = 1024;
    static constexpr std::size_t bytes_size = read_size + 3;

    int fd = -1;
    char bytes[bytes_size];
    std::size_t begin = 0;
    std::size_t end = 0;
    wide_char trail = 0;

    bool empty() const { return begin == end && trail == 0; }
};

constexpr std::size_t pending_slots_size = 8;
pending_input pending_slots[pending_slots_size];

// The descriptor's own slot, else a free one; null when all hold input.
pending_input* pending_for(int fd) {
    pending_input* free_slot = nullptr;
    for (pending_input& slot : pending_slots) {
        if (slot.fd == fd) return &slot;
        if (free_slot == nullptr && (slot.fd < 0 || slot.empty())) free_slot = &slot;
    }
    if (free_slot != nullptr) {
        free_slot->fd = fd;
        free_slot->begin = free_slot->end = 0;
        free_slot->trail = 0;
    }
    return free_slot;
}

}  // namespace

handle GetStdHandle(dword which) {
    int fd = -1;
    if (which == std_input_handle) fd = 0;
    if (which == std_output_handle) fd = 1;
    if (which == std_error_handle) fd = 2;
    if (fd < 0) {
        set_last_error(error_invalid_parameter);
        return reinterpret_cast<handle>(static_cast<std::intptr_t>(-1));  // INVALID_HANDLE_VALUE
    }
    // A process without the descriptor has no such handle.
    if (::fcntl(fd, F_GETFD) == -1) return nullptr;
    return handle_of(fd);
}

int GetConsoleMode(handle console, dword* mode) {
    const int fd = descriptor_of(console);
    if (fd < 0) {
        set_last_error(error_invalid_handle);
        return 0;
    }
    if (mode == nullptr) {
        set_last_error(error_invalid_parameter);
        return 0;
    }
    if (::isatty(fd) == 0) {
        set_last_error(error_invalid_handle);
        return 0;
    }
    *mode = fd == 0 ? default_input_mode : default_output_mode;
    return 1;
}

int WriteConsoleW(handle console, const wide_char* buffer, dword count, dword* written, void* /*reserved*/) {
    if (written != nullptr) *written = 0;
    const int fd = descriptor_of(console);
    if (fd < 0) {
        set_last_error(error_invalid_handle);
        return 0;
    }
    if (buffer == nullptr && count != 0) {
        set_last_error(error_invalid_parameter);
        return 0;
    }
    constexpr std::size_t chunk_size = 1024;
    char chunk[chunk_size];
    const wide_char* cursor = buffer;
    const wide_char* const end = buffer + count;
    dword units_done = 0;
    while (cursor != end) {
        // Whole code points, as many as fit; a lone surrogate, also one at the
        // very end, shows as U+FFFD.
        const transcode_result<char, wide_char> r = transcode(chunk, chunk_size, cursor, end);
        cursor = r.in;
        if (!write_all(fd, chunk, static_cast<std::size_t>(r.out - chunk))) {
            set_last_error(error_from_errno(errno));
            if (written != nullptr) *written = units_done;
            return 0;
        }
        units_done = static_cast<dword>(cursor - buffer);
    }
    if (written != nullptr) *written = count;
    return 1;
}

int ReadConsoleW(handle console, wide_char* buffer, dword count, dword* read, void* /*input_control*/) {
    if (read != nullptr) *read = 0;
    const int fd = descriptor_of(console);
    if (fd < 0) {
        set_last_error(error_invalid_handle);
        return 0;
    }
    if (buffer == nullptr && count != 0) {
        set_last_error(error_invalid_parameter);
        return 0;
    }
    if (count == 0) return 1;
    pending_input* const in = pending_for(fd);
    if (in == nullptr) {
        set_last_error(error_not_enough_memory);
        return 0;
    }

    dword n = 0;
    if (in->trail != 0) {
        buffer[n++] = in->trail;
        in->trail = 0;
    }
    while (n == 0) {
        // Hand out the complete sequences held, as many as fit.
        while (n < count) {
            const char* cursor = in->bytes + in->begin;
            code_point c = utf8_codec::decode(cursor, static_cast<const char*>(in->bytes + in->end));
            if (c == truncated_input) break;  // nothing held, or the start of a sequence
            if (c == invalid_input) c = replacement_code_point;
            if (utf16_codec::width(c) == 2 && n + 1 == count) {
                if (n != 0) break;  // the pair goes whole into the next read
                // A one-unit read gets the lead; its trail waits.
                wide_char pair[2];
                utf16_codec::encode(c, pair);
                buffer[n++] = pair[0];
                in->trail = pair[1];
                in->begin = static_cast<std::size_t>(cursor - in->bytes);
                break;
            }
            utf16_codec::encode(c, buffer + n);
            n += static_cast<dword>(utf16_codec::width(c));
            in->begin = static_cast<std::size_t>(cursor - in->bytes);
        }
        if (n != 0) break;

        // Nothing to hand out: keep the start of a sequence and read more.
        const std::size_t kept = in->end - in->begin;
        std::memmove(in->bytes, in->bytes + in->begin, kept);
        in->begin = 0;
        in->end = kept;
        const ssize_t r = ::read(fd, in->bytes + kept, pending_input::read_size);
        if (r < 0) {
            // A signal the program handled cut the read short, as Ctrl+C does
            // on Windows: success, nothing read, the operation aborted.
            if (errno == EINTR) {
                set_last_error(error_operation_aborted);
                return 1;
            }
            set_last_error(error_from_errno(errno));
            return 0;
        }
        if (r == 0) {
            // End of input. A sequence it cut off shows as U+FFFD.
            if (kept != 0) {
                in->begin = in->end = 0;
                buffer[n++] = static_cast<wide_char>(replacement_code_point);
                break;
            }
            set_last_error(error_success);
            return 1;
        }
        in->end = kept + static_cast<std::size_t>(r);
    }
    if (in->begin == in->end && in->trail == 0) in->fd = -1;
    if (read != nullptr) *read = n;
    return 1;
}

}  // namespace platform
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
