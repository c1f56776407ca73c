// The environment and command calls against the fake platform: which lookups
// they make with which capacities, what they hand back, and what they allocate.
// These are the Windows calls, run on every build against the fake of the
// Windows seam; on Linux the calls pass bytes to the C library (tested for
// real in tests/integration).
#include <wexal/u8port/cstdlib.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/counting_allocator.hpp"
#include "support/fake_environment.hpp"
#include "support/fake_platform.hpp"

namespace {

namespace u8 = wexal::u8port;
using wexal::test::allocation_scope;
using wexal::test::environment_calls;
using wexal::test::fake_call_log;
using wexal::test::fake_environment;
using wexal::test::fake_last_error;
using wexal::test::wide;
using wexal::test::wide_arg;
using wexal::test::wide_string;

constexpr const char* lookup = "GetEnvironmentVariableW";
constexpr const char* last_error = "GetLastError";
constexpr const char* set = "SetEnvironmentVariableW";

// A value of n UTF-16 units cycling through 'a', U+00E9 and U+4E16, with its
// UTF-8 form built from the same pieces.
struct sample_value {
    wide_string units;
    std::string utf8;
};

sample_value sample(std::size_t n) {
    const char16_t pieces16[] = {u'a', u'\u00E9', u'\u4E16'};
    const char* const pieces8[] = {"a", "\xC3\xA9", "\xE4\xB8\x96"};
    sample_value v;
    for (std::size_t i = 0; i < n; ++i) {
        v.units.push_back(static_cast<u8::wide_char>(pieces16[i % 3]));
        v.utf8 += pieces8[i % 3];
    }
    return v;
}

std::vector<std::uint32_t> lookup_capacities() {
    std::vector<std::uint32_t> capacities;
    for (const auto& call : environment_calls(lookup)) capacities.push_back(call.capacity);
    return capacities;
}

std::string text(const char* s) { return s == nullptr ? std::string("(null)") : std::string(s); }

class EnvironmentCalls : public ::testing::Test {
protected:
    void SetUp() override { wexal::test::reset_fake_platform(); }
    void TearDown() override { wexal::test::reset_fake_platform(); }

    void define(const char* name, const wide_string& value) {
        fake_environment().variables[wide_string(name, name + std::strlen(name))] = value;
    }
    // Starts the calls that a test looks at afresh, keeping the variables.
    void forget_calls() {
        fake_call_log().clear();
        fake_environment().calls.clear();
    }
};

TEST_F(EnvironmentCalls, GetenvServesShortValuesFromTheProbeAndSizesASecondLookupForLongerOnes) {
    struct size_case {
        std::size_t units;
        std::vector<std::uint32_t> capacities;
    };
    const std::vector<size_case> cases = {
        {1, {64}},      {63, {64}},       {64, {64, 65}},
        {65, {64, 66}}, {400, {64, 401}},  // 799 UTF-8 bytes: the holder takes a heap copy
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.units);
        const sample_value v = sample(c.units);
        define("VALUE", v.units);
        forget_calls();
        EXPECT_EQ(text(u8::getenv("VALUE")), v.utf8);
        EXPECT_EQ(lookup_capacities(), c.capacities);
        // A value that exists is never followed by a last-error check.
        EXPECT_EQ(fake_call_log(), std::vector<std::string>(c.capacities.size(), lookup));
        const auto calls = environment_calls(lookup);
        if (calls.size() == 2) {
            EXPECT_EQ(calls[0].result, static_cast<std::int64_t>(c.units + 1));
            EXPECT_EQ(calls[1].result, static_cast<std::int64_t>(c.units));
        }
    }
}

TEST_F(EnvironmentCalls, GetenvTellsMissingFromEmptyEvenWhenTheLastErrorIsStale) {
    define("EMPTY", wide(u""));
    struct zero_case {
        const char* what;
        const char* name;
        std::uint32_t error_before;  // the thread's last error before the call
        const char* expected;        // null: the variable is missing
        std::vector<std::string> calls;
    };
    const std::vector<zero_case> cases = {
        {"missing", "NOT_SET", 0, nullptr, {lookup, last_error, lookup}},
        {"empty", "EMPTY", 0, "", {lookup, last_error}},
        {"empty after an earlier miss left 203 behind", "EMPTY", 203, "", {lookup, last_error, lookup}},
        {"empty after an unrelated error", "EMPTY", 5, "", {lookup, last_error}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        forget_calls();
        fake_last_error() = c.error_before;
        EXPECT_EQ(text(u8::getenv(c.name)), text(c.expected));
        EXPECT_EQ(fake_call_log(), c.calls);
        const auto calls = environment_calls(lookup);
        if (calls.size() == 2) {
            EXPECT_EQ(calls[1].capacity, 0u) << "the check asks for no copy";
        }
    }
    EXPECT_EQ(fake_last_error(), 5u) << "the library sets no error of its own";
}

TEST_F(EnvironmentCalls, GetenvReturnsAnEmptyValueWhenALookupFailsWithoutWritingTheProbe) {
    define("X", wide(u"something"));
    fake_environment().lookup_fails_with = 1450u;
    EXPECT_EQ(text(u8::getenv("X")), "");
    const auto calls = environment_calls(lookup);
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_TRUE(calls[0].first_unit.has_value());
    EXPECT_EQ(*calls[0].first_unit, u8::wide_char(0)) << "the probe must start out terminated";
}

TEST_F(EnvironmentCalls, AMissLeavesThePreviousValueReadable) {
    const sample_value long_value = sample(300);
    define("LONG", long_value.units);
    define("SHORT", wide(u"caf\u00E9"));
    const char* first = u8::getenv("SHORT");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(u8::getenv("NOT_SET"), nullptr);
    EXPECT_EQ(text(first), "caf\xC3\xA9");
    const char* second = u8::getenv("LONG");
    EXPECT_EQ(u8::getenv("NOT_SET"), nullptr);
    EXPECT_EQ(text(second), long_value.utf8);
}

TEST_F(EnvironmentCalls, GetenvFollowsAValueThatChangesBetweenItsLookups) {
    struct change_case {
        const char* what;
        std::size_t before;  // units at the first lookup
        // What another thread does before the given lookup.
        std::vector<std::pair<std::size_t, std::optional<std::size_t>>> changes;  // nullopt: removed
        std::optional<std::size_t> expected;                                      // nullopt: null
        std::vector<std::uint32_t> capacities;
    };
    const std::vector<change_case> cases = {
        {"grows once", 70, {{2, 100}}, 100, {64, 71, 101}},
        {"grows twice", 70, {{2, 100}, {3, 500}}, 500, {64, 71, 101, 501}},
        {"shrinks", 70, {{2, 10}}, 10, {64, 71}},
        {"becomes empty", 70, {{2, 0}}, 0, {64, 71}},
        {"is removed", 70, {{2, std::nullopt}}, std::nullopt, {64, 71, 0}},
        {"is removed after growing", 70, {{2, 100}, {3, std::nullopt}}, std::nullopt, {64, 71, 101, 0}},
    };
    define("EARLIER", wide(u"kept"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const char* earlier = u8::getenv("EARLIER");
        define("MOVING", sample(c.before).units);
        forget_calls();
        fake_environment().before_lookup = [&](std::size_t n) {
            const wexal::test::recording_scope not_the_library;
            for (const auto& change : c.changes) {
                if (change.first != n) continue;
                if (change.second) {
                    define("MOVING", sample(*change.second).units);
                } else {
                    fake_environment().variables.erase(wide(u"MOVING"));
                }
            }
        };
        const char* got = u8::getenv("MOVING");
        fake_environment().before_lookup = nullptr;
        EXPECT_EQ(lookup_capacities(), c.capacities);
        if (c.expected) {
            EXPECT_EQ(text(got), sample(*c.expected).utf8);
        } else {
            EXPECT_EQ(got, nullptr);
            EXPECT_EQ(text(earlier), "kept");
        }
    }
}

TEST_F(EnvironmentCalls, TextIsConvertedBothWaysWithReplacementForMalformedSequences) {
    struct value_case {
        const char* what;
        wide_string stored;
        std::string utf8;
    };
    const std::vector<value_case> values = {
        {"U+00E9", wide(u"caf\u00E9"), "caf\xC3\xA9"},
        {"a surrogate pair", wide(u"\xD83D\xDE00!"), "\xF0\x9F\x98\x80!"},
        {"a lone trail surrogate",
         wide(u"a\xDC00"
              "b"),
         "a\xEF\xBF\xBD"
         "b"},
        {"a lead surrogate at the end", wide(u"a\xD800"), "a\xEF\xBF\xBD"},
        {"two lead surrogates", wide(u"\xD800\xD800\xDE00"), "\xEF\xBF\xBD\xF0\x90\x88\x80"},
    };
    for (const auto& c : values) {
        SCOPED_TRACE(c.what);
        define("V", c.stored);
        EXPECT_EQ(text(u8::getenv("V")), c.utf8);
    }

    // Names and values on the way in.
    EXPECT_EQ(u8::setenv("GR\xC3\x9CSSE", "\xC2\xA1hola, \xE4\xB8\x96\xE7\x95\x8C! \xF0\x9F\x98\x80", 1), 0);
    EXPECT_EQ(u8::setenv("bad\xFF", "cut\xE4\xB8", 1), 0);
    const auto sets = environment_calls(set);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].name, wide(u"GR\u00DCSSE"));
    EXPECT_EQ(sets[0].value, wide(u"\u00A1hola, \u4E16\u754C! \xD83D\xDE00"));
    EXPECT_EQ(sets[1].name, wide(u"bad\uFFFD"));
    EXPECT_EQ(sets[1].value, wide(u"cut\uFFFD"));
}

TEST_F(EnvironmentCalls, ShortLookupsAllocateNothingAndLongOnesFreeWhatTheyTook) {
    const std::string name15 = "ABCDEFGHIJKLMNO";
    const std::string name16 = "ABCDEFGHIJKLMNOP";
    const sample_value short_value = sample(63);  // 126 UTF-8 bytes
    const sample_value wide_value = sample(64);   // a second lookup
    const sample_value long_value = sample(200);  // 399 UTF-8 bytes: a heap copy
    define(name15.c_str(), short_value.units);
    define(name16.c_str(), short_value.units);
    define("WIDE", wide_value.units);
    define("LONG", long_value.units);
    u8::getenv("WIDE");  // the holder exists from here on

    struct seen {
        std::string value;
        std::size_t at_first_lookup = 0;
        std::size_t total = 0;
        std::size_t live_after = 0;
    };
    // The hook is in place before the scope opens, so that neither it nor the
    // copy of the result is counted.
    auto measure = [](const std::string& name) {
        seen s;
        fake_environment().calls.clear();  // lookups are numbered from here
        const allocation_scope* active = nullptr;
        fake_environment().before_lookup = [&](std::size_t n) {
            if (n == 1) s.at_first_lookup = active->allocations();
        };
        const char* value = nullptr;
        {
            allocation_scope scope;
            active = &scope;
            value = u8::getenv(name.c_str());
            s.total = scope.allocations();
            s.live_after = scope.live();
        }
        fake_environment().before_lookup = nullptr;
        s.value = text(value);
        return s;
    };
    const seen short_lookup = measure(name15);
    EXPECT_EQ(short_lookup.value, short_value.utf8);
    EXPECT_EQ(short_lookup.total, 0u);
    const seen long_name = measure(name16);
    EXPECT_EQ(long_name.value, short_value.utf8);
    EXPECT_EQ(long_name.at_first_lookup, 1u) << "a 16-byte name takes the heap";
    EXPECT_EQ(long_name.total, 1u);
    EXPECT_EQ(long_name.live_after, 0u);
    EXPECT_EQ(environment_calls(lookup).back().name, wide_string(name16.begin(), name16.end()));
    const seen second_lookup = measure("WIDE");
    EXPECT_EQ(second_lookup.value, wide_value.utf8);
    EXPECT_EQ(second_lookup.total, 1u) << "only the second buffer";
    EXPECT_EQ(second_lookup.live_after, 0u);

    // The holder's heap copy stays until the next value replaces it.
    const char* value = nullptr;
    std::size_t allocations = 0;
    std::size_t live_with_long_value = 0;
    std::size_t live_after_next_value = 0;
    {
        allocation_scope scope;
        value = u8::getenv("LONG");
        allocations = scope.allocations();
        live_with_long_value = scope.live();
        u8::getenv(name15.c_str());
        live_after_next_value = scope.live();
    }
    EXPECT_NE(value, nullptr);
    EXPECT_EQ(allocations, 2u) << "the second buffer and the holder's copy";
    EXPECT_EQ(live_with_long_value, 1u);
    EXPECT_EQ(live_after_next_value, 0u);
}

TEST_F(EnvironmentCalls, FailedAllocationsLeaveNothingBehind) {
    define("LONG", sample(200).units);
    for (std::size_t nth : {1u, 2u}) {  // the second buffer, then the holder's copy
        SCOPED_TRACE(nth);
        allocation_scope scope;
        scope.fail_at(nth);
        EXPECT_THROW(u8::getenv("LONG"), std::bad_alloc);
        EXPECT_EQ(scope.live(), 0u);
    }
    EXPECT_EQ(text(u8::getenv("LONG")), sample(200).utf8);
}

TEST_F(EnvironmentCalls, SetenvAsksFirstOnlyWhenToldNotToOverwrite) {
    struct overwrite_case {
        const char* what;
        std::optional<wide_string> existing;  // nullopt: not set
        std::uint32_t error_before;
        int overwrite;
        std::vector<std::string> calls;
        wide_string after;
    };
    const std::vector<overwrite_case> cases = {
        {"0 on an existing value", wide(u"old"), 0, 0, {lookup}, wide(u"old")},
        {"0 on an existing empty value", wide(u""), 0, 0, {lookup, last_error}, wide(u"")},
        {"0 on an empty value behind a stale 203", wide(u""), 203, 0, {lookup, last_error, lookup}, wide(u"")},
        {"0 on a missing variable", std::nullopt, 0, 0, {lookup, last_error, lookup, set}, wide(u"new")},
        {"1", wide(u"old"), 0, 1, {set}, wide(u"new")},
        {"7", wide(u"old"), 0, 7, {set}, wide(u"new")},
        {"-1", std::nullopt, 0, -1, {set}, wide(u"new")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake_environment().variables.clear();
        if (c.existing) define("NAME", *c.existing);
        forget_calls();
        fake_last_error() = c.error_before;
        EXPECT_EQ(u8::setenv("NAME", "new", c.overwrite), 0);
        EXPECT_EQ(fake_call_log(), c.calls);
        EXPECT_EQ(fake_environment().variables[wide(u"NAME")], c.after);
        const auto lookups = environment_calls(lookup);
        if (!lookups.empty()) {
            EXPECT_EQ(lookups[0].capacity, 2u);
        }
    }
}

TEST_F(EnvironmentCalls, SetenvUnsetenvAndPutenvReportThePlatformVerdict) {
    define("GONE", wide(u"x"));
    EXPECT_EQ(u8::setenv("GONE", nullptr, 1), 0) << "a null value removes";
    EXPECT_EQ(fake_environment().variables.count(wide(u"GONE")), 0u);
    define("GONE", wide(u"x"));
    EXPECT_EQ(u8::unsetenv("GONE"), 0);
    EXPECT_EQ(fake_environment().variables.count(wide(u"GONE")), 0u);
    EXPECT_EQ(u8::unsetenv("NEVER_SET"), 0);
    for (const auto& call : environment_calls(set)) EXPECT_EQ(call.value, std::nullopt);

    fake_environment().set_fails_with = 8u;
    EXPECT_EQ(u8::setenv("A", "b", 1), -1);
    EXPECT_EQ(u8::unsetenv("A"), -1);
    EXPECT_EQ(u8::putenv("A=b"), -1);
    EXPECT_EQ(fake_last_error(), 8u) << "the platform's error is left for the caller";
    fake_environment().set_fails_with.reset();

    // Null names reach the platform as null.
    forget_calls();
    EXPECT_EQ(u8::getenv(nullptr), nullptr);
    EXPECT_EQ(u8::setenv(nullptr, "v", 1), -1);
    EXPECT_EQ(u8::unsetenv(nullptr), -1);
    for (const auto& call : fake_environment().calls) EXPECT_EQ(call.name, std::nullopt) << call.function;

    // A long value takes the heap and arrives whole.
    const std::string long_value(300, 'v');
    EXPECT_EQ(u8::setenv("LONG", long_value.c_str(), 1), 0);
    EXPECT_EQ(fake_environment().variables[wide(u"LONG")], wide_string(long_value.begin(), long_value.end()));
}

TEST_F(EnvironmentCalls, PutenvSplitsAtTheFirstEqualsSign) {
    struct split_case {
        const char* assignment;
        int result;
        wide_arg name;  // nullopt with value nullopt: no call at all
        wide_arg value;
    };
    const std::vector<split_case> cases = {
        {"A=B=C", 0, wide(u"A"), wide(u"B=C")},
        {"NAME=", 0, wide(u"NAME"), wide(u"")},  // empty, not null: set, not removed
        {"=X", -1, wide(u""), wide(u"X")},       // the platform refuses an empty name
        {"N\xC3\xA4ME=\xE4\xB8\x96", 0, wide(u"N\u00E4ME"), wide(u"\u4E16")},
        {"NO_EQUALS", -1, std::nullopt, std::nullopt},
        {"", -1, std::nullopt, std::nullopt},
        {nullptr, -1, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(text(c.assignment));
        forget_calls();
        fake_last_error() = 42;
        EXPECT_EQ(u8::putenv(c.assignment), c.result);
        if (!c.name) {
            EXPECT_TRUE(fake_call_log().empty());
            EXPECT_EQ(fake_last_error(), 42u);
            continue;
        }
        const auto calls = environment_calls(set);
        ASSERT_FALSE(calls.empty());  // an empty value is set again after the C runtime's copy
        EXPECT_EQ(calls[0].name, c.name);
        EXPECT_EQ(calls[0].value, c.value);
    }
    EXPECT_EQ(fake_environment().variables[wide(u"A")], wide(u"B=C"));
    EXPECT_EQ(fake_environment().variables.count(wide(u"NAME")), 1u);
}

TEST_F(EnvironmentCalls, SystemPassesTheCommandLineAndReturnsTheResultUnchanged) {
    fake_environment().system_result = 1;
    EXPECT_EQ(u8::system(nullptr), 1);
    std::string command = "echo \xC3\xA9 ";
    command += std::string(300 - command.size(), 'x');
    fake_environment().system_result = 9009;
    int result = 0;
    std::size_t allocations = 0;
    std::size_t live = 0;
    {
        allocation_scope scope;
        result = u8::system(command.c_str());
        allocations = scope.allocations();
        live = scope.live();
    }
    EXPECT_EQ(result, 9009);
    EXPECT_EQ(allocations, 1u) << "the command line takes the heap";
    EXPECT_EQ(live, 0u);
    fake_environment().system_result = -1;
    EXPECT_EQ(u8::system("exit"), -1);

    const auto calls = environment_calls("_wsystem");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, std::nullopt);
    EXPECT_EQ(calls[1].name, wide(u"echo \u00E9 ") + wide_string(300 - 8, u8::wide_char('x')));
    EXPECT_EQ(calls[2].name, wide(u"exit"));
    // Besides the standard streams looking where they flush to, nothing.
    std::vector<std::string> others = fake_call_log();
    others.erase(std::remove(others.begin(), others.end(), "GetStdHandle"), others.end());
    EXPECT_EQ(others, (std::vector<std::string>{"_wsystem", "_wsystem", "_wsystem"}));
}

}  // namespace
