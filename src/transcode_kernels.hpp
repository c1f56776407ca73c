// The conversion kernels that use vector units beyond the x86-64 baseline
// (SSSE3, AVX2), and their choice at run time. The header's SSE2 code stays
// the fallback and does every conversion's last stretch; a kernel only takes
// the long middle of an input.
#ifndef WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP
#define WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP

#include <cstddef>
#include <cstdint>

#include <wexal/u8port/transcode.hpp>

namespace wexal {
namespace u8port {
namespace detail {

enum class transcode_kernel { sse2, ssse3, avx2 };
constexpr transcode_kernel all_transcode_kernels[] = {transcode_kernel::sse2, transcode_kernel::ssse3,
                                                      transcode_kernel::avx2};
const char* name_of(transcode_kernel kernel) noexcept;

// Whether the processor (and the system, for AVX2's registers) runs it.
bool processor_has(transcode_kernel kernel) noexcept;
// The kernel in use: the best the processor has, chosen on first use.
transcode_kernel active_transcode_kernel() noexcept;
// For tests: makes every later conversion use kernel; false (and nothing
// changed) when the processor lacks it.
bool use_transcode_kernel(transcode_kernel kernel) noexcept;

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

// Shuffle controls that take the first w bytes of each 16-bit lane (w = 1
// plus the lane's bit in the index) or of each 32-bit lane (w = the lane's
// two bits in the index, 0 to 3), side by side.
struct byte_gather_table {
    std::uint8_t control[256][16];
    std::uint8_t count[256];
    constexpr byte_gather_table(unsigned lane_size) : control(), count() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned n = 0;
            for (unsigned i = 0; i < 16 / lane_size; ++i) {
                const unsigned w = lane_size == 2 ? 1 + ((m >> i) & 1u) : (m >> (2 * i)) & 3u;
                for (unsigned k = 0; k < w; ++k) control[m][n++] = static_cast<std::uint8_t>(lane_size * i + k);
            }
            for (unsigned k = n; k < 16; ++k) control[m][k] = 0x80;
            count[m] = static_cast<std::uint8_t>(n);
        }
    }
};

extern const unit_gather_table unit_gather;
extern const byte_gather_table pair_gather;  // 16-bit lanes of one or two bytes
extern const byte_gather_table word_gather;  // 32-bit lanes of zero to three bytes

namespace ssse3 {
transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
                                                const char* end) noexcept;
transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin,
                                                const wide_char* end) noexcept;
}  // namespace ssse3
namespace avx2 {
transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
                                                const char* end) noexcept;
transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin,
                                                const wide_char* end) noexcept;
}  // namespace avx2

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP
