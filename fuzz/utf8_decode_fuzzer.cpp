// utf8_codec::decode over arbitrary bytes, called repeatedly to the end as a
// conversion loop does. Every well-formed character must come back whole and
// nothing else may come back as a character; a broken sequence never takes a
// byte that could begin the next character with it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <wexal/u8port/utf.hpp>

#include "fuzz_check.hpp"
#include "well_formed.hpp"

namespace {

using wexal::u8port::code_point;
using wexal::u8port::invalid_input;
using wexal::u8port::truncated_input;
using wexal::u8port::utf8_codec;

bool is_continuation_byte(char b) { return (static_cast<unsigned char>(b) & 0xC0) == 0x80; }

// How many bytes the sequence that this lead byte begins has in full; 0 for
// a byte that begins none.
std::size_t sequence_length(char lead) {
    const auto b = static_cast<unsigned char>(lead);
    if (b >= 0xC2 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF4) return 4;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* const end = reinterpret_cast<const char*>(data) + size;
    const char* cursor = reinterpret_cast<const char*>(data);
    for (;;) {
        const char* const start = cursor;
        const code_point c = utf8_codec::decode(cursor, end);
        WEXAL_FUZZ_CHECK(cursor >= start && cursor <= end);
        const auto consumed = static_cast<std::size_t>(cursor - start);
        if (start == end) {
            WEXAL_FUZZ_CHECK(c == truncated_input && consumed == 0);
            break;
        }
        WEXAL_FUZZ_CHECK(consumed >= 1);
        const std::size_t well_formed = wexal::fuzz::well_formed_utf8_length(start, end);
        if (well_formed != 0) {
            WEXAL_FUZZ_CHECK(c != invalid_input && c != truncated_input);
            WEXAL_FUZZ_CHECK(consumed == well_formed);
            WEXAL_FUZZ_CHECK(static_cast<std::size_t>(utf8_codec::width(c)) == consumed);
            char encoded[utf8_codec::max_width];
            char* const encoded_end = utf8_codec::encode(c, encoded);
            WEXAL_FUZZ_CHECK(static_cast<std::size_t>(encoded_end - encoded) == consumed);
            WEXAL_FUZZ_CHECK(std::memcmp(encoded, start, consumed) == 0);
            continue;
        }
        WEXAL_FUZZ_CHECK(c == invalid_input || c == truncated_input);
        for (const char* p = start + 1; p != cursor; ++p) WEXAL_FUZZ_CHECK(is_continuation_byte(*p));
        if (c == truncated_input) {
            // Only running out of input inside a sequence is "truncated".
            WEXAL_FUZZ_CHECK(cursor == end);
            WEXAL_FUZZ_CHECK(consumed < sequence_length(*start));
        } else if (cursor != end && consumed < sequence_length(*start)) {
            // Stopped early: the byte that broke the sequence is still there.
            WEXAL_FUZZ_CHECK(!is_continuation_byte(*cursor));
        }
    }
    return 0;
}
