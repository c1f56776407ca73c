// The AVX2 kernel: the whole conversion built for AVX2 (three-operand VEX
// code, the shuffling blocks, and 32-byte steps through runs of ASCII and of
// three-byte characters). The target region opens before the loops are
// included, so every loop and helper is built for AVX2; the kernel runs only
// where the processor and the system support it.
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
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace wexal {
namespace u8port {
namespace detail {
namespace avx2 {

#define WEXAL_TRANSCODE_SSE2 1
#include "loops.inl"

#include "shuffle_blocks.inl"
// Adds the wide runs to the shuffling blocks.
#include "avx2_blocks.inl"

#include "entry.inl"
#undef WEXAL_TRANSCODE_SSE2

}  // namespace avx2
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif
