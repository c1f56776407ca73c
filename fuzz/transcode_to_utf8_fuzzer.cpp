// transcode_into from UTF-16 to UTF-8. The first two bytes choose the
// capacities tried when the output is long; the rest is the text, two
// bytes a unit.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "transcode_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wexal::fuzz::fuzz_input input(data, size);
    const unsigned capacity_selector = input.unit();
    wexal::fuzz::check_transcode<char>(input.rest_as_units(), capacity_selector);
    return 0;
}
