// The SSE2 kernel: the x86-64 baseline, which every x86-64 processor runs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <immintrin.h>
#endif

#include "kernels.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace sse2 {

#define WEXAL_TRANSCODE_SSE2 1
#include "loops.inl"

using kernel_blocks = sse2_blocks;

#include "entry.inl"
#undef WEXAL_TRANSCODE_SSE2

}  // namespace sse2
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
