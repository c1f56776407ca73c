// The properties of transcode_into, shared by the targets for both
// directions: the whole conversion matches the code-point-at-a-time
// reference and is well-formed; a buffer of any capacity gets exactly the
// whole code points that fit, NUL-terminated, and nothing past its end;
// well-formed input survives the round trip unchanged.
#ifndef WEXAL_FUZZ_TRANSCODE_CHECKS_HPP
#define WEXAL_FUZZ_TRANSCODE_CHECKS_HPP

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include <wexal/u8port/stackstring.hpp>

#include "fuzz_check.hpp"
#include "reference_conversion.hpp"
#include "well_formed.hpp"

namespace wexal {
namespace fuzz {

inline bool is_well_formed(const char* begin, const char* end) { return is_well_formed_utf8(begin, end); }
inline bool is_well_formed(const u8port::wide_char* begin, const u8port::wide_char* end) {
    return is_well_formed_utf16(begin, end);
}

// The most output units one input unit can give: a UTF-8 byte at most one
// UTF-16 unit, a UTF-16 unit at most three UTF-8 bytes. The stack strings'
// fast path and the console input buffer's capacity rely on these bounds.
template <typename Out>
constexpr std::size_t growth_bound() {
    return sizeof(Out) == 1 ? 3 : 1;
}

// A buffer of exactly the capacity, so that a write past it is caught.
template <typename Out, typename In>
void check_capacity(const reference_result<Out>& reference, const In* begin, const In* end, std::size_t capacity) {
    const std::size_t length = reference.units.size();
    const std::unique_ptr<Out[]> out(new Out[capacity]);
    Out* const result = u8port::transcode_into(out.get(), capacity, begin, end);
    if (capacity == 0) {
        WEXAL_FUZZ_CHECK(result == nullptr);
        return;
    }
    const bool fits = length + 1 <= capacity;
    WEXAL_FUZZ_CHECK(result == (fits ? out.get() : nullptr));
    const std::size_t kept = fits ? length : reference.whole_prefix_within(capacity - 1);
    WEXAL_FUZZ_CHECK(
        std::equal(reference.units.begin(), reference.units.begin() + static_cast<std::ptrdiff_t>(kept), out.get()));
    WEXAL_FUZZ_CHECK(out[kept] == Out(0));
}

template <typename Out, typename In>
void check_transcode(const std::vector<In>& input, unsigned capacity_selector) {
    const In* const begin = input.data();
    const In* const end = begin + input.size();
    const reference_result<Out> reference = reference_convert<Out>(begin, end);
    const std::size_t length = reference.units.size();
    WEXAL_FUZZ_CHECK(length <= input.size() * growth_bound<Out>());

    // max_width units per input unit always suffice.
    const std::size_t roomy = input.size() * static_cast<std::size_t>(u8port::codec_for_t<Out>::max_width) + 1;
    const std::unique_ptr<Out[]> whole(new Out[roomy]);
    WEXAL_FUZZ_CHECK(u8port::transcode_into(whole.get(), roomy, begin, end) == whole.get());
    WEXAL_FUZZ_CHECK(std::equal(reference.units.begin(), reference.units.end(), whole.get()));
    WEXAL_FUZZ_CHECK(whole[length] == Out(0));
    WEXAL_FUZZ_CHECK(is_well_formed(whole.get(), whole.get() + length));

    // A short output is tried with every capacity; a long one with the
    // capacity the input chose and the few after it, so that every way of
    // running out of room near a multi-unit character is met.
    const std::size_t first_capacity = length <= 256 ? 0 : capacity_selector % (length + 3);
    const std::size_t last_capacity = length <= 256 ? length + 2 : first_capacity + 8;
    for (std::size_t capacity = first_capacity; capacity <= last_capacity; ++capacity) {
        check_capacity<Out>(reference, begin, end, capacity);
    }

    if (is_well_formed(begin, end)) {
        const std::size_t back_capacity = length * static_cast<std::size_t>(u8port::codec_for_t<In>::max_width) + 1;
        const std::unique_ptr<In[]> back(new In[back_capacity]);
        WEXAL_FUZZ_CHECK(u8port::transcode_into(back.get(), back_capacity, whole.get(), whole.get() + length) ==
                         back.get());
        WEXAL_FUZZ_CHECK(std::equal(begin, end, back.get()));
        WEXAL_FUZZ_CHECK(back[input.size()] == In(0));
    }
}

}  // namespace fuzz
}  // namespace wexal

#endif  // WEXAL_FUZZ_TRANSCODE_CHECKS_HPP
