// Opens one kernel's region: the instruction set its code is built for and
// the namespace its functions live in. A kernel's file defines
// WEXAL_KERNEL (its name: portable, sse2, ssse3, avx2, avx512) and, for a
// vector kernel, WEXAL_KERNEL_TARGET (the compiler's target string, e.g.
// "avx2"), includes this header, then its code and the helpers it shares
// with other kernels, and closes with target_end.hpp. So every function in
// between, inline helpers included, is built for that instruction set and
// belongs to that kernel alone: no two kernels share an inline function, and
// a kernel runs only where the dispatcher found the processor has it.
//
// No include guard: each kernel's file includes it once.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(WEXAL_KERNEL_TARGET)
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <immintrin.h>
#endif
#endif

#include "kernels.hpp"

#if !defined(WEXAL_KERNEL)
#error "a kernel's file defines WEXAL_KERNEL before it includes target_begin.hpp"
#endif

#if defined(WEXAL_KERNEL_TARGET)
#define WEXAL_KERNEL_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define WEXAL_KERNEL_PUSH(isa) \
    WEXAL_KERNEL_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
WEXAL_KERNEL_PUSH(WEXAL_KERNEL_TARGET)
#elif defined(__GNUC__)
#define WEXAL_KERNEL_PUSH(isa) WEXAL_KERNEL_PRAGMA(GCC target(isa))
#pragma GCC push_options
WEXAL_KERNEL_PUSH(WEXAL_KERNEL_TARGET)
#endif
#endif

// For the step helpers that the compiler would otherwise call, passing
// their vectors and cursors through memory.
#if defined(__GNUC__) || defined(__clang__)
#define WEXAL_STEP_INLINE inline __attribute__((always_inline))
#else
#define WEXAL_STEP_INLINE __forceinline
#endif

namespace wexal {
namespace u8port {
namespace detail {
namespace WEXAL_KERNEL {
