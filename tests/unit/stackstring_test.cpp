#include <wexal/u8port/stackstring.hpp>

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "support/counting_allocator.hpp"

namespace {

using wexal::test::allocation_scope;
using wexal::u8port::narrow_stackstring;
using wexal::u8port::transcode_into;
using wexal::u8port::wide_char;
using wexal::u8port::wide_short_stackstring;
using wexal::u8port::wide_stackstring;

std::vector<wide_char> units_of(const wide_char* s) {
    std::vector<wide_char> v;
    while (*s != 0) v.push_back(*s++);
    return v;
}

struct narrow_to_wide_case {
    const char* name;
    std::string input;
    std::size_t capacity;
    bool fits;
    std::vector<wide_char> content;  // before the terminator
};

TEST(TranscodeInto, Utf8ToUtf16KeepsAWholePrefixAndReportsOverflow) {
    const std::vector<narrow_to_wide_case> cases = {
        {"empty into 1", "", 1, true, {}},
        {"A into 1", "A", 1, false, {}},
        {"ABCD into 4", "ABCD", 4, false, {'A', 'B', 'C'}},
        {"ABC into 4", "ABC", 4, true, {'A', 'B', 'C'}},
        {"pair into 2", "\xF0\x9F\x98\x80", 2, false, {}},
        {"pair into 3", "\xF0\x9F\x98\x80", 3, true, {0xD83D, 0xDE00}},
        {"a pair after a letter into 3", "a\xF0\x9F\x98\x80", 3, false, {'a'}},
        {"broken sequence keeps the next byte", "a\xC3(", 8, true, {'a', 0xFFFD, '('}},
        {"truncated tail", "ab\xE2\x82", 8, true, {'a', 'b', 0xFFFD}},
        {"overlong is one replacement", "\xE0\x80\x80x", 8, true, {0xFFFD, 'x'}},
        {"replacement needs one unit", "\xFF", 2, true, {0xFFFD}},
    };
    for (const auto& c : cases) {
        std::vector<wide_char> out(c.capacity + 1, 0x7777);
        wide_char* result = transcode_into(out.data(), c.capacity, c.input.data(), c.input.data() + c.input.size());
        EXPECT_EQ(result, c.fits ? out.data() : nullptr) << c.name;
        EXPECT_EQ(units_of(out.data()), c.content) << c.name;
        EXPECT_EQ(out[c.capacity], 0x7777) << c.name << ": wrote past the capacity";
    }
}

TEST(TranscodeInto, CapacityZeroWritesNothing) {
    wide_char wout[2] = {0x7777, 0x7777};
    const char in[] = "A";
    EXPECT_EQ(transcode_into(wout, 0, in, in + 1), nullptr);
    EXPECT_EQ(wout[0], 0x7777);
    char nout[2] = {'x', 'x'};
    const wide_char win[] = {0x41};
    EXPECT_EQ(transcode_into(nout, 0, win, win + 1), nullptr);
    EXPECT_EQ(nout[0], 'x');
}

TEST(TranscodeInto, Utf16ToUtf8ReplacesBrokenPairsWithoutLosingTheNextUnit) {
    const std::vector<std::pair<std::vector<wide_char>, std::string>> cases = {
        {{0xD83D, 0x0041},
         "\xEF\xBF\xBD"
         "A"},
        {{0xDC00}, "\xEF\xBF\xBD"},
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {{0x20AC, 0x00E9, 0x0041},
         "\xE2\x82\xAC\xC3\xA9"
         "A"},
        {{0xD83D}, "\xEF\xBF\xBD"},
    };
    for (const auto& [units, bytes] : cases) {
        char out[16];
        ASSERT_EQ(transcode_into(out, sizeof out, units.data(), units.data() + units.size()), out);
        EXPECT_EQ(std::string(out), bytes);
    }
    // A three-byte character never leaves a partial sequence behind.
    const wide_char euro[] = {'a', 0x20AC};
    char out[4];
    EXPECT_EQ(transcode_into(out, 4, euro, euro + 2), nullptr);
    EXPECT_EQ(std::string(out), "a");
}

// Runs one conversion in an allocation scope and checks where the text went.
template <typename Stack, typename In>
void check_storage(const std::basic_string<In>& input, bool inline_expected, std::size_t heap_units) {
    allocation_scope scope;
    {
        Stack s(input.c_str());
        ASSERT_NE(s.get(), nullptr);
        EXPECT_EQ(s.uses_inline_buffer(), inline_expected) << "length " << input.size();
        if (inline_expected) {
            EXPECT_EQ(scope.allocations(), 0u) << "length " << input.size();
        } else {
            EXPECT_EQ(scope.allocations(), 1u) << "length " << input.size();
            EXPECT_EQ(scope.last_size(), heap_units * sizeof(typename Stack::output_char)) << "length " << input.size();
        }
    }
    EXPECT_EQ(scope.live(), 0u) << "leaked for length " << input.size();
}

TEST(StackStrings, ShortTextStaysInTheObjectAndLongTextTakesOneHeapArray) {
    check_storage<wide_short_stackstring>(std::string(15, 'm'), true, 0);
    check_storage<wide_short_stackstring>(std::string(16, 'm'), false, 33);
    check_storage<wide_stackstring>(std::string(255, 'n'), true, 0);
    check_storage<wide_stackstring>(std::string(256, 'n'), false, 513);
    check_storage<narrow_stackstring>(std::basic_string<wide_char>(255, 'a'), true, 0);
    check_storage<narrow_stackstring>(std::basic_string<wide_char>(85, wide_char(0x20AC)), true, 0);
    check_storage<narrow_stackstring>(std::basic_string<wide_char>(86, wide_char(0x20AC)), false, 345);
    check_storage<narrow_stackstring>(std::basic_string<wide_char>(256, 'a'), false, 1025);
}

TEST(StackStrings, HeapTextIsConvertedWhole) {
    std::string name;
    for (int i = 0; i < 100; ++i) name += "\xC3\xA9\xF0\x9F\x98\x80";  // é and U+1F600: 600 bytes
    const wide_stackstring s(name.c_str());
    ASSERT_FALSE(s.uses_inline_buffer());
    const std::vector<wide_char> units = units_of(s.get());
    ASSERT_EQ(units.size(), 300u);
    for (std::size_t i = 0; i < units.size(); i += 3) {
        EXPECT_EQ(units[i], 0xE9);
        EXPECT_EQ(units[i + 1], 0xD83D);
        EXPECT_EQ(units[i + 2], 0xDE00);
    }
    const narrow_stackstring back(s.get());
    EXPECT_EQ(std::string(back.get()), name);
}

TEST(StackStrings, NullEmptyAndDefaultStates) {
    const wide_stackstring from_null(static_cast<const char*>(nullptr));
    EXPECT_EQ(from_null.get(), nullptr);
    EXPECT_FALSE(from_null.uses_inline_buffer());

    const wide_stackstring from_null_range(nullptr, nullptr);
    EXPECT_EQ(from_null_range.get(), nullptr);

    const wide_short_stackstring empty("");
    ASSERT_NE(empty.get(), nullptr);
    EXPECT_TRUE(empty.uses_inline_buffer());
    EXPECT_EQ(empty.get()[0], 0);

    const narrow_stackstring fresh;
    EXPECT_EQ(fresh.get(), nullptr);
    EXPECT_FALSE(fresh.uses_inline_buffer());

    // The range constructor stops at the end given, not at a NUL.
    const char text[] = "name=value";
    const wide_short_stackstring name(text, text + 4);
    EXPECT_EQ(units_of(name.get()), (std::vector<wide_char>{'n', 'a', 'm', 'e'}));
}

TEST(StackStrings, ReconvertingReleasesTheHeapArrayAndReturnsInline) {
    const std::string long_text(1000, 'x');
    const std::string other_long_text(300, 'y');
    allocation_scope scope;
    {
        wide_stackstring s(long_text.c_str());
        EXPECT_FALSE(s.uses_inline_buffer());
        EXPECT_EQ(scope.live(), 1u);
        s.convert("short");
        EXPECT_TRUE(s.uses_inline_buffer());
        EXPECT_EQ(scope.live(), 0u);
        EXPECT_EQ(units_of(s.get()), (std::vector<wide_char>{'s', 'h', 'o', 'r', 't'}));
        s.convert(other_long_text.c_str());
        s.clear();
        EXPECT_EQ(s.get(), nullptr);
        EXPECT_EQ(scope.live(), 0u);
    }
    EXPECT_EQ(scope.live(), 0u);
}

TEST(StackStrings, FailedAllocationLeavesTheObjectEmptyAndLeaksNothing) {
    const std::string first(400, 'a');
    const std::string second(600, 'b');
    const std::basic_string<wide_char> wide_text(300, 'c');
    allocation_scope scope;
    wide_stackstring s(first.c_str());
    ASSERT_EQ(scope.live(), 1u);
    scope.fail_at(1);
    EXPECT_THROW(s.convert(second.c_str()), std::bad_alloc);
    EXPECT_EQ(s.get(), nullptr);
    EXPECT_FALSE(s.uses_inline_buffer());
    EXPECT_EQ(scope.live(), 0u);

    scope.fail_at(1);
    EXPECT_THROW(narrow_stackstring{wide_text.c_str()}, std::bad_alloc);
    EXPECT_EQ(scope.live(), 0u);

    // The object is usable again afterwards.
    EXPECT_NE(s.convert("ok"), nullptr);
    EXPECT_TRUE(s.uses_inline_buffer());
}

// A member-wise copy would share a heap array or point into another object.
static_assert(!std::is_copy_constructible<wide_stackstring>::value, "stack strings must not be copyable");
static_assert(!std::is_copy_assignable<narrow_stackstring>::value, "stack strings must not be assignable");

}  // namespace

TEST(StackStrings, Utf16TextEndsAtItsTerminatorWhereverItStarts) {
    for (std::size_t start = 0; start < 16; ++start) {
        for (std::size_t length = 0; length < 40; ++length) {
            // Terminators before the text too, which the count must not see.
            std::vector<wide_char> units(start, wide_char(0));
            units.resize(start + length, wide_char('a'));
            units.resize(units.size() + 20, wide_char(0));
            const narrow_stackstring s(units.data() + start);
            EXPECT_EQ(std::string(s.get()), std::string(length, 'a')) << start << " " << length;
        }
    }
}
