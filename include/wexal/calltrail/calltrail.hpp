// The operations a stack-trace front end calls: collect the calling thread's
// frames, dump frames, and describe one frame. This header belongs to the
// calltrail backends alone and shares nothing with u8port.
//
// The backend in calltrail_noop answers every request with nothing: no frames
// are collected, a dump writes nothing and reports 0 bytes, and every frame
// has an empty name, an empty source file and line 0. No operation looks at
// its arguments, so null pointers, any counts and any frame are accepted, and
// every operation may be called from any number of threads at once.
#ifndef WEXAL_CALLTRAIL_CALLTRAIL_HPP
#define WEXAL_CALLTRAIL_CALLTRAIL_HPP

#include <cstdint>
#include <string>

// An installed static build carries this header, which defines
// WEXAL_CALLTRAIL_STATIC.
#if defined(__has_include)
#if __has_include(<wexal/calltrail/static_library.hpp>)
#include <wexal/calltrail/static_library.hpp>
#endif
#endif

// WEXAL_CALLTRAIL_API marks what a calltrail backend library exports.
// WEXAL_CALLTRAIL_BUILDING is defined while the backend itself is built;
// WEXAL_CALLTRAIL_STATIC when it is a static library (nothing is imported or
// exported).
#if defined(WEXAL_CALLTRAIL_STATIC)
#define WEXAL_CALLTRAIL_API
#elif defined(_WIN32)
#if defined(WEXAL_CALLTRAIL_BUILDING)
#define WEXAL_CALLTRAIL_API __declspec(dllexport)
#else
#define WEXAL_CALLTRAIL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
// ELF builds use hidden visibility by default, so exports are marked as on Windows.
#define WEXAL_CALLTRAIL_API __attribute__((visibility("default")))
#else
#define WEXAL_CALLTRAIL_API
#endif

namespace wexal {
namespace calltrail {

// One frame of a stack trace, identified by its return address. Only the
// members marked for export live in the backend; the rest is inline, so the
// backend exports no constructor, type information or vtable of its own.
class frame {
public:
    constexpr frame() noexcept = default;
    constexpr explicit frame(const void* address) noexcept : address_(address) {}

    constexpr const void* address() const noexcept { return address_; }

    // The function the frame belongs to; empty when unknown.
    WEXAL_CALLTRAIL_API std::string name() const noexcept;
    // The source file of the frame's address; empty when unknown.
    WEXAL_CALLTRAIL_API std::string source_file() const noexcept;
    // The source line of the frame's address; 0 when unknown.
    WEXAL_CALLTRAIL_API std::uint64_t source_line() const noexcept;

private:
    const void* address_ = nullptr;
};

// A one-line description of one frame; empty when nothing is known.
WEXAL_CALLTRAIL_API std::string to_string(const frame& f) noexcept;

namespace detail {

// Gathers the return addresses of the calling thread's stack.
class this_thread_frames {
public:
    this_thread_frames() = delete;

    // Writes at most max_frames addresses into out_frames, after skipping the
    // innermost skip frames, and returns how many it wrote.
    WEXAL_CALLTRAIL_API static std::uint64_t collect(const void** out_frames, std::uint64_t max_frames,
                                                     std::uint64_t skip) noexcept;
};

// Writes a description of frames_count frames to the file named file_name
// (UTF-8) and returns the number of bytes written.
WEXAL_CALLTRAIL_API std::uint64_t dump(const char* file_name, const void* const* frames,
                                       std::uint64_t frames_count) noexcept;
// Writes a description of frames_count frames to an already open file,
// designated by its native handle (a HANDLE on Windows; the address of an int
// holding a file descriptor elsewhere). Returns the number of bytes written.
WEXAL_CALLTRAIL_API std::uint64_t dump(void* native_file, const void* const* frames,
                                       std::uint64_t frames_count) noexcept;

// Description of frames_count frames, one line each; empty when nothing is known.
WEXAL_CALLTRAIL_API std::string to_string(const frame* frames, std::uint64_t frames_count) noexcept;

}  // namespace detail
}  // namespace calltrail
}  // namespace wexal

#endif  // WEXAL_CALLTRAIL_CALLTRAIL_HPP
