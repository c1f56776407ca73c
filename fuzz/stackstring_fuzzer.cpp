// The three stack strings, built and reconverted from arbitrary text. The
// first byte picks the instance and the sequence of operations; the next two
// split the rest into two texts. Each state must hold the reference
// conversion, live inline exactly when the text fits, and cost exactly one
// heap array of the documented size otherwise, released on the next
// conversion, clear() or destruction.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <wexal/u8port/stackstring.hpp>

#include "fuzz_check.hpp"
#include "fuzz_input.hpp"
#include "reference_conversion.hpp"
#include "support/counting_allocator.hpp"

namespace {

using wexal::test::allocation_scope;

template <typename Stack>
class stackstring_run {
public:
    using out_char = typename Stack::output_char;
    using in_char = typename Stack::input_char;

    // The references are computed here, before any allocation is counted.
    stackstring_run(std::vector<in_char> first, std::vector<in_char> second)
        : first_(std::move(first)), second_(std::move(second)), first_string_(first_.begin(), first_.end()),
          first_reference_(reference(first_.data(), first_.data() + first_.size())),
          first_string_reference_(reference(
              first_string_.c_str(), first_string_.c_str() + std::char_traits<in_char>::length(first_string_.c_str()))),
          second_reference_(reference(second_.data(), second_.data() + second_.size())) {}

    void run(unsigned operations) {
        // An empty vector may have a null data(), which would mean no input.
        static const in_char nothing = 0;
        const in_char* const b1 = first_.empty() ? &nothing : first_.data();
        const in_char* const e1 = b1 + first_.size();
        const in_char* const b2 = second_.empty() ? &nothing : second_.data();
        const in_char* const e2 = b2 + second_.size();
        // A NUL-terminated string ends at its first NUL unit.
        const in_char* const s1 = first_string_.c_str();
        const in_char* const s1_end = s1 + std::char_traits<in_char>::length(s1);

        allocation_scope scope;
        switch (operations % 4) {
        case 0: {
            const Stack s(s1);
            check_holds(s, s1, s1_end, first_string_reference_, scope);
            break;
        }
        case 1: {
            const Stack s(b1, e1);
            check_holds(s, b1, e1, first_reference_, scope);
            break;
        }
        case 2: {
            Stack s;
            WEXAL_FUZZ_CHECK(s.get() == nullptr && !s.uses_inline_buffer());
            WEXAL_FUZZ_CHECK(s.convert(s1) == s.get());
            check_holds(s, s1, s1_end, first_string_reference_, scope);
            WEXAL_FUZZ_CHECK(s.convert(b2, e2) == s.get());
            check_holds(s, b2, e2, second_reference_, scope);
            s.clear();
            check_empty(s, scope);
            break;
        }
        default: {
            Stack s(b1, e1);
            check_holds(s, b1, e1, first_reference_, scope);
            WEXAL_FUZZ_CHECK(s.convert(static_cast<const in_char*>(nullptr)) == nullptr);
            check_empty(s, scope);
            WEXAL_FUZZ_CHECK(s.convert(b2, e2) == s.get());
            check_holds(s, b2, e2, second_reference_, scope);
            WEXAL_FUZZ_CHECK(s.convert(nullptr, nullptr) == nullptr);
            check_empty(s, scope);
            break;
        }
        }
        WEXAL_FUZZ_CHECK(scope.live() == 0);
    }

private:
    using reference_units = std::vector<out_char>;

    static reference_units reference(const in_char* begin, const in_char* end) {
        return wexal::fuzz::reference_convert<out_char>(begin, end).units;
    }

    void check_holds(const Stack& s, const in_char* begin, const in_char* end, const reference_units& expected,
                     const allocation_scope& scope) {
        const std::size_t length = expected.size();
        const out_char* const text = s.get();
        WEXAL_FUZZ_CHECK(text != nullptr);
        for (std::size_t i = 0; i < length; ++i) WEXAL_FUZZ_CHECK(text[i] == expected[i]);
        WEXAL_FUZZ_CHECK(text[length] == out_char(0));

        const auto input_length = static_cast<std::size_t>(end - begin);
        const bool fits_inline = input_length + 1 <= Stack::buffer_size && length + 1 <= Stack::buffer_size;
        WEXAL_FUZZ_CHECK(s.uses_inline_buffer() == fits_inline);
        const std::size_t made = scope.allocations() - allocations_seen_;
        allocations_seen_ = scope.allocations();
        if (fits_inline) {
            WEXAL_FUZZ_CHECK(made == 0);
            WEXAL_FUZZ_CHECK(scope.live() == 0);
        } else {
            constexpr auto max_width = static_cast<std::size_t>(wexal::u8port::codec_for_t<out_char>::max_width);
            WEXAL_FUZZ_CHECK(made == 1);
            WEXAL_FUZZ_CHECK(scope.last_size() == (input_length * max_width + 1) * sizeof(out_char));
            WEXAL_FUZZ_CHECK(scope.live() == 1);
        }
    }

    void check_empty(const Stack& s, const allocation_scope& scope) {
        WEXAL_FUZZ_CHECK(s.get() == nullptr);
        WEXAL_FUZZ_CHECK(!s.uses_inline_buffer());
        WEXAL_FUZZ_CHECK(scope.live() == 0);
        WEXAL_FUZZ_CHECK(scope.allocations() == allocations_seen_);
    }

    std::vector<in_char> first_;
    std::vector<in_char> second_;
    std::basic_string<in_char> first_string_;
    reference_units first_reference_;
    reference_units first_string_reference_;
    reference_units second_reference_;
    std::size_t allocations_seen_ = 0;
};

template <typename Stack>
void run_with(wexal::fuzz::fuzz_input& input, unsigned operations) {
    const unsigned split = input.unit();
    if constexpr (sizeof(typename Stack::input_char) == 1) {
        std::vector<char> first = input.bytes(split % (input.remaining() + 1));
        stackstring_run<Stack>(std::move(first), input.rest_as_bytes()).run(operations);
    } else {
        std::vector<wexal::u8port::wide_char> first = input.units(split % (input.remaining() / 2 + 1));
        stackstring_run<Stack>(std::move(first), input.rest_as_units()).run(operations);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wexal::fuzz::fuzz_input input(data, size);
    const unsigned selector = input.byte();
    switch (selector % 3) {
    case 0:
        run_with<wexal::u8port::wide_stackstring>(input, selector / 3);
        break;
    case 1:
        run_with<wexal::u8port::wide_short_stackstring>(input, selector / 3);
        break;
    default:
        run_with<wexal::u8port::narrow_stackstring>(input, selector / 3);
        break;
    }
    return 0;
}
