// The conversion kernels, one per instruction set, and their choice at run
// time. Each kernel is the whole conversion (loops.inl) compiled for its
// instruction set in a file of its own (portable.cpp, sse2.cpp, avx2.cpp,
// ...), so the library loads on any processor and runs the best kernel the
// processor and the system support.
#ifndef WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP
#define WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <wexal/u8port/transcode.hpp>

// The x86-64 kernels exist where the compiler can build them.
#if defined(__x86_64__) || defined(_M_X64)
#define WEXAL_TRANSCODE_X86 1
#else
#define WEXAL_TRANSCODE_X86 0
#endif

namespace wexal {
namespace u8port {
namespace detail {

enum class transcode_kernel { portable, sse2, ssse3, avx2, avx512 };
constexpr transcode_kernel all_transcode_kernels[] = {transcode_kernel::portable, transcode_kernel::sse2,
                                                      transcode_kernel::ssse3, transcode_kernel::avx2,
                                                      transcode_kernel::avx512};
const char* name_of(transcode_kernel kernel) noexcept;

// Whether the processor (and the system, for the wider registers) runs it.
bool processor_has(transcode_kernel kernel) noexcept;
// The kernel in use: the best the processor has, chosen on first use.
transcode_kernel active_transcode_kernel() noexcept;
// For tests: makes every later conversion use kernel; false (and nothing
// changed) when the processor lacks it.
bool use_transcode_kernel(transcode_kernel kernel) noexcept;

// The counts of the kernel in use: UTF-16 units for UTF-8 bytes, and UTF-8
// bytes for UTF-16 units (surrogates: whether there is any unit from 0xD800
// to 0xDFFF).
std::size_t utf16_length(const char* begin, const char* end) noexcept;
std::size_t utf8_length(const wide_char* begin, const wide_char* end, bool& surrogates) noexcept;

// What every kernel offers; the conversions write no terminator and nothing
// past the result, as transcode.
#define WEXAL_TRANSCODE_KERNEL_ENTRIES                                                              \
    transcode_result<wide_char, char> to_utf16(wide_char* out, std::size_t room, const char* begin, \
                                               const char* end) noexcept;                           \
    transcode_result<char, wide_char> to_utf8(char* out, std::size_t room, const wide_char* begin,  \
                                              const wide_char* end) noexcept;                       \
    std::size_t utf16_length(const char* begin, const char* end) noexcept;                          \
    std::size_t utf8_length(const wide_char* begin, const wide_char* end, bool& surrogates) noexcept;

namespace portable {
WEXAL_TRANSCODE_KERNEL_ENTRIES
}
#if WEXAL_TRANSCODE_X86
namespace sse2 {
WEXAL_TRANSCODE_KERNEL_ENTRIES
}
namespace ssse3 {
WEXAL_TRANSCODE_KERNEL_ENTRIES
}
namespace avx2 {
WEXAL_TRANSCODE_KERNEL_ENTRIES
}
namespace avx512 {
WEXAL_TRANSCODE_KERNEL_ENTRIES
}
#endif

// Shuffle controls that gather the chosen 16-bit lanes of a vector at its
// front, indexed by a mask of one bit per lane.
struct unit_gather_table {
    std::uint8_t control[256][16];
    std::uint8_t count[256];
    constexpr unit_gather_table() : control(), count() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned n = 0;
            for (unsigned i = 0; i < 8; ++i) {
                if (((m >> i) & 1u) != 0) {
                    control[m][2 * n] = static_cast<std::uint8_t>(2 * i);
                    control[m][2 * n + 1] = static_cast<std::uint8_t>(2 * i + 1);
                    ++n;
                }
            }
            for (unsigned k = 2 * n; k < 16; ++k) control[m][k] = 0x80;
            count[m] = static_cast<std::uint8_t>(n);
        }
    }
};

// Shuffle controls that take the first w bytes of each 32-bit lane (w = the
// lane's two bits in the index, 0 to 3), side by side.
struct word_gather_table {
    std::uint8_t control[256][16];
    std::uint8_t count[256];
    constexpr word_gather_table() : control(), count() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned n = 0;
            for (unsigned i = 0; i < 4; ++i) {
                for (unsigned k = 0; k < ((m >> (2 * i)) & 3u); ++k)
                    control[m][n++] = static_cast<std::uint8_t>(4 * i + k);
            }
            for (unsigned k = n; k < 16; ++k) control[m][k] = 0x80;
            count[m] = static_cast<std::uint8_t>(n);
        }
    }
};

extern const unit_gather_table unit_gather;
extern const word_gather_table word_gather;

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP
