// The library's conversions between UTF-8 and UTF-16, and the choice of
// kernel behind them: made once, from what CPUID and XGETBV report, on the
// first conversion, and kept for the life of the process.
#include <atomic>

#include "kernels.hpp"

#if WEXAL_TRANSCODE_X86
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace wexal {
namespace u8port {
namespace detail {

const unit_gather_table unit_gather{};
const word_gather_table word_gather{};

namespace {

struct kernel_entry {
    transcode_result<wide_char, char> (*to_utf16)(wide_char*, std::size_t, const char*, const char*) noexcept;
    transcode_result<char, wide_char> (*to_utf8)(char*, std::size_t, const wide_char*, const wide_char*) noexcept;
    std::size_t (*utf16_length)(const char*, const char*) noexcept;
    std::size_t (*utf8_length)(const wide_char*, const wide_char*, bool&) noexcept;
};

// In the order of transcode_kernel: each kernel's conversions, and the counts
// it has or the narrower kernel's it uses.
#define WEXAL_TRANSCODE_KERNEL(name, counts) \
    { &name::utf8_to_utf16, &name::utf16_to_utf8, &counts::utf8_to_utf16_length, &counts::utf16_to_utf8_length }
const kernel_entry kernels[] = {
    WEXAL_TRANSCODE_KERNEL(portable, portable),
#if WEXAL_TRANSCODE_X86
    WEXAL_TRANSCODE_KERNEL(sse2, sse2),         WEXAL_TRANSCODE_KERNEL(ssse3, sse2),
    WEXAL_TRANSCODE_KERNEL(avx2, sse2),         WEXAL_TRANSCODE_KERNEL(avx512, avx512),
#endif
};
#undef WEXAL_TRANSCODE_KERNEL

struct cpu_features {
    bool ssse3 = false;
    bool avx2 = false;
    bool avx512 = false;
};

cpu_features detect() noexcept {
    cpu_features f;
#if WEXAL_TRANSCODE_X86
    unsigned regs[4] = {0, 0, 0, 0};  // eax, ebx, ecx, edx
    unsigned leaf7_ebx = 0;
    unsigned leaf7_ecx = 0;
    unsigned long long xcr0 = 0;
#if defined(_MSC_VER) && !defined(__clang__)
    int r[4];
    __cpuid(r, 0);
    const unsigned max_leaf = static_cast<unsigned>(r[0]);
    __cpuid(r, 1);
    for (int i = 0; i < 4; ++i) regs[i] = static_cast<unsigned>(r[i]);
    if (max_leaf >= 7) {
        __cpuidex(r, 7, 0);
        leaf7_ebx = static_cast<unsigned>(r[1]);
        leaf7_ecx = static_cast<unsigned>(r[2]);
    }
    if ((regs[2] & (1u << 27)) != 0) xcr0 = _xgetbv(0);
#else
    const unsigned max_leaf = __get_cpuid_max(0, nullptr);
    if (max_leaf < 1) return f;
    __cpuid(1, regs[0], regs[1], regs[2], regs[3]);
    if (max_leaf >= 7) {
        unsigned a = 0, d = 0;
        __cpuid_count(7, 0, a, leaf7_ebx, leaf7_ecx, d);
    }
    if ((regs[2] & (1u << 27)) != 0) {  // OSXSAVE: the system saves the registers it enables
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        xcr0 = (static_cast<unsigned long long>(hi) << 32) | lo;
    }
#endif
    f.ssse3 = (regs[2] & (1u << 9)) != 0;
    // AVX2 needs AVX, and the system saving the SSE and AVX registers.
    f.avx2 = (regs[2] & (1u << 28)) != 0 && (xcr0 & 6u) == 6u && (leaf7_ebx & (1u << 5)) != 0;
    // AVX-512 F, BW, VL and VBMI2 (with BMI2 and POPCNT), and the system saving
    // the opmask and all of the ZMM registers besides.
    f.avx512 = f.avx2 && (xcr0 & 0xE6u) == 0xE6u && (regs[2] & (1u << 23)) != 0 && (leaf7_ebx & (1u << 8)) != 0 &&
               (leaf7_ebx & (1u << 3)) != 0 && (leaf7_ebx & (1u << 16)) != 0 && (leaf7_ebx & (1u << 30)) != 0 &&
               (leaf7_ebx & (1u << 31)) != 0 && (leaf7_ecx & (1u << 6)) != 0;
#endif
    return f;
}

const cpu_features& features() noexcept {
    static const cpu_features f = detect();
    return f;
}

transcode_kernel best_kernel() noexcept {
    const cpu_features& f = features();
#if WEXAL_TRANSCODE_X86
    return f.avx512  ? transcode_kernel::avx512
           : f.avx2  ? transcode_kernel::avx2
           : f.ssse3 ? transcode_kernel::ssse3
                     : transcode_kernel::sse2;
#else
    static_cast<void>(f);
    return transcode_kernel::portable;
#endif
}

// -1 until the first conversion picks.
std::atomic<int> chosen{-1};

#if defined(__GNUC__) || defined(__clang__)
__attribute__((noinline))
#endif
int choose() noexcept {
    const int k = static_cast<int>(best_kernel());
    chosen.store(k, std::memory_order_relaxed);
    return k;
}

// The kernel in use; the first call chooses it.
inline const kernel_entry& active() noexcept {
    int k = chosen.load(std::memory_order_relaxed);
    if (k < 0) k = choose();
    return kernels[k];
}

}  // namespace

const char* name_of(transcode_kernel kernel) noexcept {
    switch (kernel) {
    case transcode_kernel::portable:
        return "portable";
    case transcode_kernel::sse2:
        return "sse2";
    case transcode_kernel::ssse3:
        return "ssse3";
    case transcode_kernel::avx2:
        return "avx2";
    case transcode_kernel::avx512:
        return "avx512";
    }
    return "?";
}

bool processor_has(transcode_kernel kernel) noexcept {
    switch (kernel) {
    case transcode_kernel::portable:
        return true;
    case transcode_kernel::sse2:
        return WEXAL_TRANSCODE_X86 != 0;
    case transcode_kernel::ssse3:
        return features().ssse3;
    case transcode_kernel::avx2:
        return features().avx2;
    case transcode_kernel::avx512:
        return features().avx512;
    }
    return false;
}

transcode_kernel active_transcode_kernel() noexcept {
    active();
    return static_cast<transcode_kernel>(chosen.load(std::memory_order_relaxed));
}

bool use_transcode_kernel(transcode_kernel kernel) noexcept {
    if (!processor_has(kernel)) return false;
    chosen.store(static_cast<int>(kernel), std::memory_order_relaxed);
    return true;
}

std::size_t utf16_length(const char* begin, const char* end) noexcept { return active().utf16_length(begin, end); }

std::size_t utf8_length(const wide_char* begin, const wide_char* end, bool& surrogates) noexcept {
    return active().utf8_length(begin, end, surrogates);
}

}  // namespace detail

template <>
transcode_result<wide_char, char> transcode<wide_char, char>(wide_char* out, std::size_t capacity, const char* begin,
                                                             const char* end) noexcept {
    return detail::active().to_utf16(out, capacity, begin, end);
}

template <>
transcode_result<char, wide_char> transcode<char, wide_char>(char* out, std::size_t capacity, const wide_char* begin,
                                                             const wide_char* end) noexcept {
    return detail::active().to_utf8(out, capacity, begin, end);
}

template <>
wide_char* transcode_into<wide_char, char>(wide_char* out, std::size_t capacity, const char* begin,
                                           const char* end) noexcept {
    if (capacity == 0) return nullptr;
    const transcode_result<wide_char, char> r = detail::active().to_utf16(out, capacity - 1, begin, end);
    *r.out = wide_char(0);
    return r.complete ? out : nullptr;
}

template <>
char* transcode_into<char, wide_char>(char* out, std::size_t capacity, const wide_char* begin,
                                      const wide_char* end) noexcept {
    if (capacity == 0) return nullptr;
    const transcode_result<char, wide_char> r = detail::active().to_utf8(out, capacity - 1, begin, end);
    *r.out = '\0';
    return r.complete ? out : nullptr;
}

template <>
std::size_t transcoded_length<wide_char, char>(const char* begin, const char* end) noexcept {
    return detail::utf16_length(begin, end);
}

template <>
std::size_t transcoded_length<char, wide_char>(const wide_char* begin, const wide_char* end) noexcept {
    bool surrogates;
    return detail::utf8_length(begin, end, surrogates);
}

}  // namespace u8port
}  // namespace wexal
