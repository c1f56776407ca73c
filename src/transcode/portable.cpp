// The portable kernel: plain C++, for every processor, and the reference the
// tests hold the vector kernels to besides the plain loop.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kernels.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace portable {

#define WEXAL_TRANSCODE_SSE2 0
#include "loops.inl"

using kernel_blocks = sse2_blocks;

#include "entry.inl"
#undef WEXAL_TRANSCODE_SSE2

}  // namespace portable
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
