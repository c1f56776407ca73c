// widen, narrow and transcode against transcode_into, and the lossless round
// trips. The first two bytes choose a capacity for transcode; the rest is read
// both as UTF-8 and as UTF-16.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <wexal/u8port/convert.hpp>

#include "fuzz_check.hpp"
#include "fuzz_input.hpp"
#include "well_formed.hpp"

namespace {

namespace u8 = wexal::u8port;

// result is what transcode_into writes with room to spare, and transcode
// with the chosen capacity gives that conversion's prefix of whole code points.
template <typename Out, typename In>
void check_against_transcode_into(const std::basic_string<Out>& result, const std::vector<In>& input,
                                  unsigned selector) {
    const In* const begin = input.data();
    const In* const end = begin + input.size();
    std::vector<Out> whole(input.size() * 3 + 1);
    WEXAL_FUZZ_CHECK(u8::transcode_into(whole.data(), whole.size(), begin, end) == whole.data());
    WEXAL_FUZZ_CHECK(std::equal(result.begin(), result.end(), whole.begin()) && whole[result.size()] == Out(0));
    WEXAL_FUZZ_CHECK(u8::transcoded_length<Out>(begin, end) == result.size());

    const std::size_t capacity = selector % (result.size() + 1);
    std::vector<Out> counted(capacity + 1, Out(0x5A));
    std::vector<Out> terminated(capacity + 1);
    const auto r = u8::transcode(counted.data(), capacity, begin, end);
    const bool fits = u8::transcode_into(terminated.data(), capacity + 1, begin, end) != nullptr;
    const std::size_t written = static_cast<std::size_t>(r.out - counted.data());
    WEXAL_FUZZ_CHECK(r.complete == fits && (r.in == end) == fits && counted[capacity] == Out(0x5A));
    WEXAL_FUZZ_CHECK(
        std::equal(counted.begin(), counted.begin() + static_cast<std::ptrdiff_t>(written), terminated.begin()) &&
        terminated[written] == Out(0));
    WEXAL_FUZZ_CHECK(u8::transcoded_length<Out>(begin, r.in) == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wexal::fuzz::fuzz_input input(data, size);
    const unsigned selector = input.unit();
    const std::vector<char> bytes(data + (size - input.remaining()), data + size);
    const std::vector<u8::wide_char> units = input.rest_as_units();
    const std::string s(bytes.begin(), bytes.end());
    const u8::wide_string u(units.begin(), units.end());

    check_against_transcode_into(u8::widen(s), bytes, selector);
    check_against_transcode_into(u8::narrow(u), units, selector);

    // The lossless round trips, and agreement where nothing is lost.
    const std::string kept = u8::narrow(u, u8::lossless);
    WEXAL_FUZZ_CHECK(u8::widen(kept, u8::lossless) == u);
    WEXAL_FUZZ_CHECK(u8::narrow(u8::widen(kept, u8::lossless), u8::lossless) == kept);
    if (wexal::fuzz::is_well_formed_utf16(u.data(), u.data() + u.size())) WEXAL_FUZZ_CHECK(kept == u8::narrow(u));
    const u8::wide_string widened = u8::widen(s, u8::lossless);
    WEXAL_FUZZ_CHECK(u8::widen(u8::narrow(widened, u8::lossless), u8::lossless) == widened);
    if (wexal::fuzz::is_well_formed_utf8(s.data(), s.data() + s.size())) WEXAL_FUZZ_CHECK(widened == u8::widen(s));
    return 0;
}
