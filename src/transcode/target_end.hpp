// Closes the region that target_begin.hpp opened.
//
// No include guard: each kernel's file includes it once, last.
}  // namespace WEXAL_KERNEL
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#if defined(WEXAL_KERNEL_TARGET)
#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif
#undef WEXAL_KERNEL_PUSH
#undef WEXAL_KERNEL_PRAGMA
#undef WEXAL_KERNEL_TARGET
#endif
#undef WEXAL_KERNEL
#undef WEXAL_STEP_INLINE
