// Every allocation a call makes, made to fail in turn. For each call the
// allocations are counted once, then the call is repeated once per
// allocation with that one failing: the call must throw std::bad_alloc,
// leave its objects in a usable state and leak nothing. A new allocation
// added to any of these calls is swept too, without touching this file.
#include <cstddef>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wexal/u8port/args.hpp>
#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/iostream.hpp>
#include <wexal/u8port/stackstring.hpp>

#include "support/counting_allocator.hpp"
#include "support/fake_console.hpp"
#include "support/fake_environment.hpp"
#include "support/fake_platform.hpp"
#include "windows/console_buffers.hpp"

namespace {

namespace u8 = wexal::u8port;
using wexal::test::allocation_scope;
using wexal::test::fake_console;
using wexal::test::fake_environment;
using wexal::test::fake_files;
using wexal::test::wide_string;

// Text that takes the heap path of every stack string: 300 bytes of UTF-8
// mixing one-, two-, three- and four-byte characters.
std::string long_utf8(const char* prefix) {
    std::string s = prefix;
    while (s.size() < 300) s += "a\xC3\xA9\xE4\xB8\x96\xF0\x9F\x98\x80";
    return s;
}

wide_string wide_of(const std::string& utf8) {
    std::vector<u8::wide_char> out(utf8.size() + 1);
    u8::transcode_into(out.data(), out.size(), utf8.data(), utf8.data() + utf8.size());
    return wide_string(out.data());
}

struct failing_call {
    const char* what;
    std::function<void()> setup;  // runs before each attempt, outside the counted scope
    std::function<void()> call;
    // Runs inside the scope after the failure, told which allocation failed
    // and how many the call makes; releases whatever the test itself still
    // holds, so that the leak check sees only what the call left behind.
    std::function<void(std::size_t nth, std::size_t total)> check;
};

void sweep(const failing_call& c) {
    SCOPED_TRACE(c.what);
    c.setup();
    std::size_t total = 0;
    {
        allocation_scope scope;
        c.call();
        total = scope.allocations();
    }
    ASSERT_GT(total, 0u) << "the call allocates nothing, so nothing was swept";
    for (std::size_t nth = 1; nth <= total; ++nth) {
        SCOPED_TRACE(testing::Message() << "allocation " << nth << " of " << total << " fails");
        c.setup();
        allocation_scope scope;
        scope.fail_at(nth);
        EXPECT_THROW(c.call(), std::bad_alloc);
        c.check(nth, total);
        EXPECT_EQ(scope.live(), 0u) << "a block was leaked";
    }
}

class AllocationFailure : public ::testing::Test {
protected:
    void SetUp() override { wexal::test::reset_fake_platform(); }
    void TearDown() override { wexal::test::reset_fake_platform(); }

    const std::string name_ = long_utf8("name-");
    const std::string other_name_ = long_utf8("other-");
    const std::string mode_ = "rb, ccs=UTF-8 and then some";  // longer than the 15 bytes a mode keeps inline
    const std::string variable_ = "VARIABLE_WITH_A_LONG_NAME_\xC3\xA9";
    const std::string value_ = long_utf8("value-");
    const std::string assignment_ = variable_ + "=" + value_;
};

TEST_F(AllocationFailure, StackStringsAreEmptyAfterAFailedConversion) {
    const wide_string wide_text = wide_of(long_utf8("wide-"));
    const std::string short_text = "short";
    std::optional<u8::wide_stackstring> held_wide;
    std::optional<u8::narrow_stackstring> held_narrow;
    const auto nothing_to_check = [](std::size_t, std::size_t) {};
    const auto is_empty = [](const auto& s) { return s.get() == nullptr && !s.uses_inline_buffer(); };

    const std::vector<failing_call> calls = {
        {"a wide_stackstring built from long text", [] {}, [&] { u8::wide_stackstring s(name_.c_str()); },
         nothing_to_check},
        {"a wide_short_stackstring built from a long mode", [] {}, [&] { u8::wide_short_stackstring s(mode_.c_str()); },
         nothing_to_check},
        {"a narrow_stackstring built from long text", [] {}, [&] { u8::narrow_stackstring s(wide_text.c_str()); },
         nothing_to_check},
        {"a wide_stackstring holding heap text converting more", [&] { held_wide.emplace(other_name_.c_str()); },
         [&] { held_wide->convert(name_.c_str()); },
         [&](std::size_t, std::size_t) {
             EXPECT_TRUE(is_empty(*held_wide));
             // Still usable afterwards.
             EXPECT_NE(held_wide->convert(short_text.c_str()), nullptr);
             EXPECT_TRUE(held_wide->uses_inline_buffer());
         }},
        {"a narrow_stackstring holding inline text converting long text",
         [&] { held_narrow.emplace(wide_of(short_text).c_str()); }, [&] { held_narrow->convert(wide_text.c_str()); },
         [&](std::size_t, std::size_t) { EXPECT_TRUE(is_empty(*held_narrow)); }},
    };
    for (const auto& c : calls) sweep(c);
}

TEST_F(AllocationFailure, FileCallsReachNoPlatformCallWithHalfConvertedNames) {
    const auto no_platform_call = [](std::size_t, std::size_t) { EXPECT_TRUE(fake_files().calls.empty()); };
    const auto reset = [] { fake_files().reset(); };
    std::FILE* const stream = reinterpret_cast<std::FILE*>(0x1000);
    const std::vector<failing_call> calls = {
        {"fopen", reset, [&] { u8::fopen(name_.c_str(), mode_.c_str()); }, no_platform_call},
        {"freopen", reset, [&] { u8::freopen(name_.c_str(), mode_.c_str(), stream); }, no_platform_call},
        {"remove", reset, [&] { u8::remove(name_.c_str()); }, no_platform_call},
        {"rename", reset, [&] { u8::rename(name_.c_str(), other_name_.c_str()); }, no_platform_call},
    };
    for (const auto& c : calls) sweep(c);
}

TEST_F(AllocationFailure, EnvironmentCallsChangeNothingWhenTheyFail) {
    const wide_string wide_variable = wide_of(variable_);
    const wide_string wide_value = wide_of(value_);
    const char* earlier = nullptr;
    const auto fresh_environment = [&] {
        wexal::test::reset_fake_platform();
        fake_environment().variables[wide_of("SHORT")] = wide_of("before");
    };
    const auto unchanged = [&](std::size_t, std::size_t) {
        EXPECT_EQ(fake_environment().variables.count(wide_variable), 0u);
        EXPECT_TRUE(wexal::test::environment_calls("SetEnvironmentVariableW").empty());
    };
    const std::vector<failing_call> calls = {
        {"getenv of a long value under a long name",
         [&] {
             fresh_environment();
             fake_environment().variables[wide_variable] = wide_value;
             earlier = u8::getenv("SHORT");
         },
         [&] { u8::getenv(variable_.c_str()); },
         [&](std::size_t nth, std::size_t total) {
             // Only the last allocation, the holder's own copy, touches what
             // an earlier call returned.
             if (nth < total) {
                 EXPECT_STREQ(earlier, "before");
             }
         }},
        {"setenv asking first", fresh_environment, [&] { u8::setenv(variable_.c_str(), value_.c_str(), 0); },
         unchanged},
        {"setenv overwriting", fresh_environment, [&] { u8::setenv(variable_.c_str(), value_.c_str(), 1); }, unchanged},
        {"putenv", fresh_environment, [&] { u8::putenv(assignment_.c_str()); }, unchanged},
        {"unsetenv",
         [&] {
             fresh_environment();
             fake_environment().variables[wide_variable] = wide_value;
         },
         [&] { u8::unsetenv(variable_.c_str()); },
         [&](std::size_t, std::size_t) { EXPECT_EQ(fake_environment().variables.count(wide_variable), 1u); }},
        {"system", fresh_environment, [&] { u8::system(value_.c_str()); },
         [](std::size_t, std::size_t) { EXPECT_TRUE(wexal::test::environment_calls("_wsystem").empty()); }},
    };
    for (const auto& c : calls) sweep(c);
}

TEST_F(AllocationFailure, ArgsLeavesMainsVariablesAsTheyWere) {
    char program[] = "prog";
    char* narrow[] = {program, nullptr};
    int argc = 1;
    char **argv = narrow, **envp = narrow + 1;
    sweep({"args",
           [&] {
               wexal::test::reset_fake_platform();
               fake_environment().main_args = {wide_of("prog"), wide_of(name_), wide_of("")};
               fake_environment().main_env = {wide_of(assignment_), wide_of("=C:=C:\\x")};
               fake_environment().main_narrow_argc = 1;
               fake_environment().main_narrow_argv = narrow;
           },
           [&] { u8::args utf8(argc, argv, envp); },
           [&](std::size_t, std::size_t total) {
               EXPECT_LE(total, 2u) << "more than two blocks";
               EXPECT_TRUE(argc == 1 && argv == narrow && envp == narrow + 1);
           }});
}

TEST_F(AllocationFailure, PutBackBytesSurviveAStoreThatCannotGrow) {
    // Nine put-backs before any read: the store is made at the first, and
    // grows at the fifth and the ninth.
    const char bytes[] = "abcdefghi";
    std::optional<u8::detail::console_input_buffer> buffer;
    std::size_t done = 0;
    const failing_call c{"put-backs into a fresh console input buffer",
                         [&] {
                             wexal::test::reset_fake_platform();
                             buffer.reset();
                             buffer.emplace(wexal::test::fake_handle(3));
                             done = 0;
                         },
                         [&] {
                             for (const char* p = bytes; *p != 0; ++p) {
                                 ASSERT_NE(buffer->sputbackc(*p), std::char_traits<char>::eof());
                                 ++done;
                             }
                         },
                         [&](std::size_t, std::size_t) {
                             // What was put back comes out last first, then the console's input.
                             fake_console().reads.push_back(
                                 wexal::test::console_read{{u8::wide_char('o'), u8::wide_char('k')}, false, 0});
                             std::string expected(bytes, done);
                             expected.assign(expected.rbegin(), expected.rend());
                             expected += "ok";
                             std::string got;
                             for (int ch = buffer->sbumpc(); ch != std::char_traits<char>::eof();
                                  ch = buffer->sbumpc()) {
                                 got += static_cast<char>(ch);
                             }
                             EXPECT_EQ(got, expected);
                             buffer.reset();
                         }};
    sweep(c);
}

TEST_F(AllocationFailure, StreamsOnAConsoleReleaseEverythingWhenTheirBufferCannotBeMade) {
    const auto consoles = [] {
        wexal::test::reset_fake_platform();
        for (std::uint32_t which :
             {static_cast<std::uint32_t>(-10), static_cast<std::uint32_t>(-11), static_cast<std::uint32_t>(-12)}) {
            void* const h = wexal::test::fake_handle(static_cast<int>(which & 0xF));
            fake_console().std_handles[which] = h;
            fake_console().consoles.insert(h);
        }
    };
    std::optional<u8::detail::winconsole_ostream> tie;
    const auto nothing_written = [&](std::size_t, std::size_t) { EXPECT_TRUE(fake_console().writes.empty()); };
    const std::vector<failing_call> calls = {
        {"an output stream", consoles, [] { u8::detail::winconsole_ostream s(1, nullptr); }, nothing_written},
        {"an error stream tied to another",
         [&] {
             consoles();
             tie.emplace(3, nullptr);  // no handle: writes through std::cerr
         },
         [&] { u8::detail::winconsole_ostream s(2, &*tie); }, nothing_written},
        {"an input stream", consoles, [&] { u8::detail::winconsole_istream s(nullptr); }, nothing_written},
    };
    for (const auto& c : calls) sweep(c);
    tie.reset();
}

}  // namespace
