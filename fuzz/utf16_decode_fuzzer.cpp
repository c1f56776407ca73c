// utf16_codec::decode over arbitrary units, called repeatedly to the end.
// Characters and valid pairs come back whole; an unpaired surrogate comes
// back alone as invalid input and never takes the unit after it along.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <wexal/u8port/utf.hpp>

#include "fuzz_check.hpp"
#include "fuzz_input.hpp"
#include "well_formed.hpp"

namespace {

using wexal::fuzz::is_lead_surrogate;
using wexal::u8port::code_point;
using wexal::u8port::invalid_input;
using wexal::u8port::truncated_input;
using wexal::u8port::utf16_codec;
using wexal::u8port::wide_char;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wexal::fuzz::fuzz_input input(data, size);
    const std::vector<wide_char> units = input.rest_as_units();
    const wide_char* const end = units.data() + units.size();
    const wide_char* cursor = units.data();
    for (;;) {
        const wide_char* const start = cursor;
        const code_point c = utf16_codec::decode(cursor, end);
        WEXAL_FUZZ_CHECK(cursor >= start && cursor <= end);
        const auto consumed = static_cast<std::size_t>(cursor - start);
        if (start == end) {
            WEXAL_FUZZ_CHECK(c == truncated_input && consumed == 0);
            break;
        }
        const std::size_t well_formed = wexal::fuzz::well_formed_utf16_length(start, end);
        if (well_formed != 0) {
            WEXAL_FUZZ_CHECK(c != invalid_input && c != truncated_input);
            WEXAL_FUZZ_CHECK(utf16_codec::is_valid_code_point(c));
            WEXAL_FUZZ_CHECK(consumed == well_formed);
            WEXAL_FUZZ_CHECK(static_cast<std::size_t>(utf16_codec::width(c)) == consumed);
            wide_char encoded[utf16_codec::max_width];
            wide_char* const encoded_end = utf16_codec::encode(c, encoded);
            WEXAL_FUZZ_CHECK(static_cast<std::size_t>(encoded_end - encoded) == consumed);
            for (std::size_t i = 0; i < consumed; ++i) WEXAL_FUZZ_CHECK(encoded[i] == start[i]);
            continue;
        }
        // An unpaired surrogate: exactly that unit is consumed.
        WEXAL_FUZZ_CHECK(consumed == 1);
        if (c == truncated_input) {
            WEXAL_FUZZ_CHECK(cursor == end && is_lead_surrogate(static_cast<std::uint16_t>(*start)));
        } else {
            WEXAL_FUZZ_CHECK(c == invalid_input);
        }
    }
    return 0;
}
