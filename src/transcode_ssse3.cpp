// The SSSE3 kernel: byte shuffles gather the units and bytes of mixed blocks. Only this
// file is built for the instruction set, so the library still loads on any
// x86-64 processor; the kernel runs only where the processor has it.
#include <immintrin.h>

#include "transcode_kernels.hpp"

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

#include "transcode_kernel.inl"

}  // namespace ssse3
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif
