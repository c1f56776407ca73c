// UTF-8 to UTF-16 in the SSSE3 kernel, whose byte shuffles gather the units and bytes of mixed blocks.
#define WEXAL_KERNEL ssse3
#define WEXAL_KERNEL_TARGET "ssse3"
#include "target_begin.hpp"

#include "scalar.hpp"
#include "utf8_to_utf16_sse2.hpp"
#include "utf8_to_utf16_ssse3.hpp"

transcode_result<wide_char, char> utf8_to_utf16(wide_char* out, std::size_t room, const char* begin,
                                                const char* end) noexcept {
    return convert(out, room, begin, end, sse2_utf8_to_utf16_steps<ssse3_utf8_steps>);
}

#include "target_end.hpp"
