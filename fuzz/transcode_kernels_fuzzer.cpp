// Every conversion kernel the processor has (portable, SSE2, SSSE3, AVX2), forced in
// turn, on the same input: the first two bytes choose the capacities, the
// rest is taken as UTF-8 and, the same bytes, as UTF-16.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "transcode/kernels.hpp"
#include "transcode_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace d = wexal::u8port::detail;
    for (const d::transcode_kernel kernel : d::all_transcode_kernels) {
        if (!d::use_transcode_kernel(kernel)) continue;
        wexal::fuzz::fuzz_input bytes(data, size);
        const unsigned capacity_selector = bytes.unit();
        wexal::fuzz::check_transcode<wexal::u8port::wide_char>(bytes.rest_as_bytes(), capacity_selector);
        wexal::fuzz::fuzz_input units(data, size);
        units.unit();
        wexal::fuzz::check_transcode<char>(units.rest_as_units(), capacity_selector);
    }
    return 0;
}
