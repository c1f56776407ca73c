// The SSSE3 kernel: byte shuffles gather the units and bytes of mixed blocks.
// The target region opens before the loops are included, so the whole kernel
// is built for SSSE3; it runs only where the processor has it.
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

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif

namespace wexal {
namespace u8port {
namespace detail {
namespace ssse3 {

#define WEXAL_TRANSCODE_SSE2 1
#include "loops.inl"

#include "shuffle_blocks.inl"
using kernel_blocks = shuffle_blocks;

#include "entry.inl"
#undef WEXAL_TRANSCODE_SSE2

}  // namespace ssse3
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif
