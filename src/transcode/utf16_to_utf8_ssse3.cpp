// UTF-16 to UTF-8 in the SSSE3 kernel, whose byte shuffles gather the units and bytes of mixed blocks.
#define WEXAL_KERNEL ssse3
#define WEXAL_KERNEL_TARGET "ssse3"
#include "target_begin.hpp"

#include "scalar.hpp"
#include "utf16_to_utf8_sse2.hpp"
#include "utf16_to_utf8_ssse3.hpp"

transcode_result<char, wide_char> utf16_to_utf8(char* out, std::size_t room, const wide_char* begin,
                                                const wide_char* end) noexcept {
    return convert(out, room, begin, end, sse2_utf16_to_utf8_steps<ssse3_utf16_steps>);
}

#include "target_end.hpp"
