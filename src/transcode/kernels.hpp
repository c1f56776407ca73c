// The conversion kernels, one per instruction set, their contract, and their
// choice at run time.
//
// A kernel is the vector code of one instruction set for four operations:
// UTF-8 to UTF-16 and back, and the two length counts. Each operation of each
// kernel lives in a file of its own named after both,
// <operation>_<kernel>.cpp (utf8_to_utf16_avx2.cpp,
// utf16_to_utf8_length_avx512.cpp, ...), between target_begin.hpp and
// target_end.hpp, which build it for the kernel's instruction set inside the
// kernel's namespace. The library loads on any processor and dispatch.cpp
// runs the best kernel the processor and the system support.
//
// The contract of a conversion kernel
// -----------------------------------
// The conversion itself is scalar.hpp's convert(): it hands the kernel's
// steps a conversion (below) and then finishes with the scalar loop, the one
// loop of the engine that knows the end of the input and of the room, code
// point by code point. So a conversion kernel provides one function,
//
//     void steps(conversion<Out, In>& c) noexcept
//
// and its file defines the operation with it:
//
//     transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
//                                                     const char* end) noexcept {
//         return convert(out, room, begin, end, steps);
//     }
//
// What steps may assume: c.in is where the codec begins a sequence; c.in <=
// c.end; c.room units may be written at c.out. Nothing about alignment.
//
// What steps must do:
// - Advance c.in, c.out and c.room over what it converted, and only ever
//   stop where the codec begins a sequence.
// - Write for that input exactly the units the plain loop writes (each
//   rejected sequence one U+FFFD, with the codec's consumption rules).
// - A sequence its vector steps do not take (malformed, cut short, or not
//   worth a step) goes to the codec: scalar_step(c) converts that one
//   sequence as the plain loop does, and returns false, changing nothing,
//   when it does not fit (steps then returns). Loops that keep their own
//   cursors call decode_or_replace (utf.hpp), the step's core, directly.
// - Return when what is left belongs to the scalar loop: the end of the
//   input, a tail shorter than its steps, or a room that might not hold its
//   next step. The scalar loop converts the rest and stops, when the room
//   runs out, exactly where the plain loop stops.
// - Read nothing outside [c.in, c.end) (masked loads may cover lanes past
//   c.end; they do not touch them).
// - Write nothing outside [c.out, c.out + c.room). Units past its result may
//   be written only where the rest of the conversion surely writes again:
//   that is, at most scratch_units past the result, and only while at least
//   scratch_tail input units remain after it and at least scratch_room
//   units of room (the limits of its direction below). Every other store
//   ends at the result.
//
// A count kernel is a plain function (utf8_to_utf16_length,
// utf16_to_utf8_length) that counts what the conversion writes for the
// whole input; scalar.hpp's counts take what its blocks leave (a faulty
// sequence, the last bytes).
//
// To add a kernel (say ARM NEON): a name in transcode_kernel; its two
// conversion files (and count files where it beats an older kernel's
// counts) each with WEXAL_KERNEL neon, WEXAL_KERNEL_TARGET (if the compiler
// needs one) and a steps function; its declarations below; a row in
// dispatch.cpp's table and its feature test there; the files in
// CMakeLists.txt. The kernel tests and the fuzz target then run it with the
// others wherever the processor has it.
#ifndef WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP
#define WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP

#include <cstddef>
#include <cstdint>

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

// A conversion in progress: the input left, [in, end), and room units free
// at out.
template <typename Out, typename In>
struct conversion {
    const In* in;
    const In* end;
    Out* out;
    std::size_t room;
};

// The limits on stores past a kernel step's result (see the contract).
// From UTF-8: n bytes give at least n / 3 units.
struct utf8_to_utf16_limits {
    static constexpr std::size_t scratch_units = 16;
    static constexpr std::size_t scratch_tail = 64;
    static constexpr std::size_t scratch_room = 18;
};
// From UTF-16: n units give at least n bytes.
struct utf16_to_utf8_limits {
    static constexpr std::size_t scratch_units = 24;
    static constexpr std::size_t scratch_tail = 64;
    static constexpr std::size_t scratch_room = 40;
};

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

// The operations of a kernel; the conversions write no terminator and
// nothing past the result, as transcode.
#define WEXAL_TRANSCODE_CONVERSIONS                                                                      \
    transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin, \
                                                    const char* end) noexcept;                           \
    transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin, \
                                                    const wide_char* end) noexcept;
#define WEXAL_TRANSCODE_COUNTS                                                     \
    std::size_t utf8_to_utf16_length(const char* begin, const char* end) noexcept; \
    std::size_t utf16_to_utf8_length(const wide_char* begin, const wide_char* end, bool& surrogates) noexcept;

namespace portable {
WEXAL_TRANSCODE_CONVERSIONS
WEXAL_TRANSCODE_COUNTS
}  // namespace portable
#if WEXAL_TRANSCODE_X86
namespace sse2 {
WEXAL_TRANSCODE_CONVERSIONS
WEXAL_TRANSCODE_COUNTS
}  // namespace sse2
// SSSE3 and AVX2 count with SSE2's blocks.
namespace ssse3 {
WEXAL_TRANSCODE_CONVERSIONS
}
namespace avx2 {
WEXAL_TRANSCODE_CONVERSIONS
}
namespace avx512 {
WEXAL_TRANSCODE_CONVERSIONS
WEXAL_TRANSCODE_COUNTS
}  // namespace avx512
#endif
#undef WEXAL_TRANSCODE_CONVERSIONS
#undef WEXAL_TRANSCODE_COUNTS

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

// The first unpaired surrogate in [p, end), or end: one of the engine's
// scans (scan.cpp; wide_length, in stackstring.hpp, is the other).
const wide_char* find_unpaired_surrogate(const wide_char* p, const wide_char* end) noexcept;

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_TRANSCODE_KERNELS_HPP
