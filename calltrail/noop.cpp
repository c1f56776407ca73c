// The no-op backend: every request is answered with nothing. No argument is
// read, nothing is written or allocated beyond the empty result, and no state
// exists, so each operation is safe on any thread at any time.
#include <wexal/calltrail/calltrail.hpp>

namespace wexal {
namespace calltrail {

std::string frame::name() const noexcept { return std::string(); }

std::string frame::source_file() const noexcept { return std::string(); }

std::uint64_t frame::source_line() const noexcept { return 0; }

std::string to_string(const frame&) noexcept { return std::string(); }

namespace detail {

std::uint64_t this_thread_frames::collect(const void**, std::uint64_t, std::uint64_t) noexcept { return 0; }

std::uint64_t dump(const char*, const void* const*, std::uint64_t) noexcept { return 0; }

std::uint64_t dump(void*, const void* const*, std::uint64_t) noexcept { return 0; }

std::string to_string(const frame*, std::uint64_t) noexcept { return std::string(); }

}  // namespace detail
}  // namespace calltrail
}  // namespace wexal
