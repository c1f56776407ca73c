// The AVX2 kernel: the SSSE3 one built for AVX2 (three-operand VEX code). Only this
// file is built for the instruction set, so the library still loads on any
// x86-64 processor; the kernel runs only where the processor has it.
#include <immintrin.h>

#include "transcode_kernels.hpp"

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

#include "transcode_kernel.inl"

}  // namespace avx2
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif
