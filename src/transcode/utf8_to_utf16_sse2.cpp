// UTF-8 to UTF-16 in the SSE2 kernel, the x86-64 baseline that every x86-64 processor runs.
#define WEXAL_KERNEL sse2
#define WEXAL_KERNEL_TARGET "sse2"
#include "target_begin.hpp"

#include "scalar.hpp"
#include "utf8_to_utf16_sse2.hpp"

transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
                                                const char* end) noexcept {
    return convert(out, room, begin, end, sse2_utf8_to_utf16_steps<sse2_utf8_steps>);
}

#include "target_end.hpp"
