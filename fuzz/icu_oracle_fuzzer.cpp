// ICU as an independent judge of both conversions of the library.
//
// UTF-8 to UTF-16: ICU replaces each maximal ill-formed subpart with its own
// U+FFFD, the library each rejected sequence with one, so the two may differ
// in how many replacements a broken stretch gets but in nothing else: after
// each run of consecutive U+FFFD is collapsed into one, the texts are equal.
//
// UTF-16 to UTF-8 (the same bytes read as units, low byte first): both give
// one U+FFFD per unpaired surrogate, so the texts are equal as they are.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <wexal/u8port/stackstring.hpp>

#include "fuzz_check.hpp"
#include "fuzz_input.hpp"
#include "reference_conversion.hpp"

namespace {

using wexal::u8port::transcode_into;
using wexal::u8port::wide_char;

constexpr std::uint16_t replacement = 0xFFFD;

// The library's whole conversion of [begin, end). Text may hold NUL units of
// its own, so the length is pinned by the capacities instead: the conversion
// fits in length + 1 units and not in length.
template <typename Out, typename In>
std::vector<Out> library_conversion(const In* begin, const In* end) {
    const std::size_t length = wexal::fuzz::reference_convert<Out>(begin, end).units.size();
    std::vector<Out> out(length + 1, Out(0x55));
    WEXAL_FUZZ_CHECK(transcode_into(out.data(), out.size(), begin, end) == out.data());
    WEXAL_FUZZ_CHECK(out[length] == Out(0));
    if (length > 0) {
        std::vector<Out> short_by_one(length);
        WEXAL_FUZZ_CHECK(transcode_into(short_by_one.data(), length, begin, end) == nullptr);
    }
    out.pop_back();
    return out;
}

std::vector<std::uint16_t> collapse_replacements(const std::vector<std::uint16_t>& units) {
    std::vector<std::uint16_t> out;
    for (const std::uint16_t u : units) {
        if (u == replacement && !out.empty() && out.back() == replacement) continue;
        out.push_back(u);
    }
    return out;
}

void compare_utf8_decoding(const std::vector<char>& bytes) {
    static const char nothing = 0;
    const char* const begin = bytes.empty() ? &nothing : bytes.data();
    const std::vector<wide_char> ours = library_conversion<wide_char>(begin, begin + bytes.size());

    // At most one UTF-16 unit per byte.
    std::vector<UChar> theirs(bytes.size() + 1);
    std::int32_t theirs_length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(theirs.data(), static_cast<std::int32_t>(theirs.size()), &theirs_length, begin,
                         static_cast<std::int32_t>(bytes.size()), replacement, nullptr, &status);
    WEXAL_FUZZ_CHECK(U_SUCCESS(status));
    theirs.resize(static_cast<std::size_t>(theirs_length));

    const std::vector<std::uint16_t> ours_units(ours.begin(), ours.end());
    const std::vector<std::uint16_t> theirs_units(theirs.begin(), theirs.end());
    WEXAL_FUZZ_CHECK(collapse_replacements(ours_units) == collapse_replacements(theirs_units));
}

void compare_utf16_decoding(const std::vector<wide_char>& units) {
    static const wide_char nothing = 0;
    const wide_char* const begin = units.empty() ? &nothing : units.data();
    const std::vector<char> ours = library_conversion<char>(begin, begin + units.size());

    // At most three UTF-8 bytes per unit.
    const std::vector<UChar> source(units.begin(), units.end());
    std::vector<char> theirs(3 * units.size() + 1);
    std::int32_t theirs_length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(theirs.data(), static_cast<std::int32_t>(theirs.size()), &theirs_length,
                       source.empty() ? u"" : source.data(), static_cast<std::int32_t>(source.size()), replacement,
                       nullptr, &status);
    WEXAL_FUZZ_CHECK(U_SUCCESS(status));
    theirs.resize(static_cast<std::size_t>(theirs_length));
    WEXAL_FUZZ_CHECK(ours == theirs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wexal::fuzz::fuzz_input as_bytes(data, size);
    compare_utf8_decoding(as_bytes.rest_as_bytes());
    wexal::fuzz::fuzz_input as_units(data, size);
    compare_utf16_decoding(as_units.rest_as_units());
    return 0;
}
