// The choice of conversion kernel: made once, from what CPUID reports, on the
// first long conversion, and kept for the life of the process.
#include <atomic>

#include "transcode_kernels.hpp"

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace wexal {
namespace u8port {
namespace detail {

const unit_gather_table unit_gather{};
const byte_gather_table pair_gather{2};
const byte_gather_table word_gather{4};

namespace {

struct kernel_entry {
    transcode_result<wide_char, char> (*to_utf16)(wide_char*, std::size_t, const char*, const char*) noexcept;
    transcode_result<char, wide_char> (*to_utf8)(char*, std::size_t, const wide_char*, const wide_char*) noexcept;
};

const kernel_entry kernels[] = {
    {&detail::utf8_to_utf16<sse2_blocks>, &detail::utf16_to_utf8<sse2_blocks>},
    {&ssse3::utf8_to_utf16, &ssse3::utf16_to_utf8},
    {&avx2::utf8_to_utf16, &avx2::utf16_to_utf8},
};

struct cpu_features {
    bool ssse3 = false;
    bool avx2 = false;
};

cpu_features detect() noexcept {
    cpu_features f;
    unsigned regs[4] = {0, 0, 0, 0};  // eax, ebx, ecx, edx
    unsigned leaf7_ebx = 0;
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
    }
    if ((regs[2] & (1u << 27)) != 0) xcr0 = _xgetbv(0);
#else
    const unsigned max_leaf = __get_cpuid_max(0, nullptr);
    if (max_leaf < 1) return f;
    __cpuid(1, regs[0], regs[1], regs[2], regs[3]);
    if (max_leaf >= 7) {
        unsigned a = 0, c = 0, d = 0;
        __cpuid_count(7, 0, a, leaf7_ebx, c, d);
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
    return f;
}

const cpu_features& features() noexcept {
    static const cpu_features f = detect();
    return f;
}

transcode_kernel best_kernel() noexcept {
    const cpu_features& f = features();
    return f.avx2 ? transcode_kernel::avx2 : f.ssse3 ? transcode_kernel::ssse3 : transcode_kernel::sse2;
}

// -1 until the first long conversion picks.
std::atomic<int> chosen{-1};

const kernel_entry& active() noexcept {
    int k = chosen.load(std::memory_order_relaxed);
    if (k < 0) {
        k = static_cast<int>(best_kernel());
        chosen.store(k, std::memory_order_relaxed);
    }
    return kernels[k];
}

}  // namespace

const char* name_of(transcode_kernel kernel) noexcept {
    switch (kernel) {
    case transcode_kernel::ssse3:
        return "ssse3";
    case transcode_kernel::avx2:
        return "avx2";
    default:
        return "sse2";
    }
}

bool processor_has(transcode_kernel kernel) noexcept {
    switch (kernel) {
    case transcode_kernel::ssse3:
        return features().ssse3;
    case transcode_kernel::avx2:
        return features().avx2;
    default:
        return true;
    }
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

transcode_result<wide_char, char> transcode_long(wide_char* out, std::size_t room, const char* begin,
                                                 const char* end) noexcept {
    return active().to_utf16(out, room, begin, end);
}

transcode_result<char, wide_char> transcode_long(char* out, std::size_t room, const wide_char* begin,
                                                 const wide_char* end) noexcept {
    return active().to_utf8(out, room, begin, end);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
