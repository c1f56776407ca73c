// UTF-16 to UTF-8 in the SSE2 kernel, the x86-64 baseline that every x86-64 processor runs.
#define WEXAL_KERNEL sse2
#define WEXAL_KERNEL_TARGET "sse2"
#include "target_begin.hpp"

#include "scalar.hpp"
#include "utf16_to_utf8_sse2.hpp"

transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin,
                                                const wide_char* end) noexcept {
    return convert(out, room, begin, end, sse2_utf16_to_utf8_steps<sse2_utf16_steps>);
}

#include "target_end.hpp"
