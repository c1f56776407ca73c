// The stream classes behind cin, cout, cerr and clog on Windows, built in the
// test against scripted standard handles: which buffer each stream picks,
// ties, independent buffers on one console, and what the destructors flush.
#include <wexal/u8port/iostream.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "support/counting_allocator.hpp"
#include "support/fake_console.hpp"
#include "support/fake_platform.hpp"
#include "windows/console_buffers.hpp"
#include "windows/win32.hpp"

namespace {

namespace platform = wexal::u8port::detail::win32;
using wexal::test::allocation_scope;
using wexal::test::fake_call_log;
using wexal::test::fake_console;
using wexal::test::fake_handle;
using wexal::test::wide;
using wexal::test::wide_string;
using wexal::u8port::detail::console_input_buffer;
using wexal::u8port::detail::console_output_buffer;
using wexal::u8port::detail::winconsole_istream;
using wexal::u8port::detail::winconsole_ostream;

using calls = std::vector<std::string>;

void* const out_handle = fake_handle(1);
void* const err_handle = fake_handle(2);
void* const in_handle = fake_handle(3);
// INVALID_HANDLE_VALUE, what GetStdHandle gives when the query itself fails.
void* const invalid_handle = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));

// What GetStdHandle gives for one standard handle.
enum class handle_kind { console, file, null, invalid };

void script_handle(std::uint32_t which, void* h, handle_kind kind) {
    auto& console = fake_console();
    switch (kind) {
    case handle_kind::console:
        console.std_handles[which] = h;
        console.consoles.insert(h);
        break;
    case handle_kind::file:
        console.std_handles[which] = h;  // a handle, but not a console's
        break;
    case handle_kind::null:
        console.std_handles.erase(which);
        break;
    case handle_kind::invalid:
        console.std_handles[which] = invalid_handle;
        break;
    }
}

void script_all_consoles() {
    script_handle(platform::std_output_handle, out_handle, handle_kind::console);
    script_handle(platform::std_error_handle, err_handle, handle_kind::console);
    script_handle(platform::std_input_handle, in_handle, handle_kind::console);
}

// The units of each console write, with the handle it went to.
struct shown {
    void* handle;
    wide_string units;
    bool operator==(const shown& o) const { return handle == o.handle && units == o.units; }
};

std::vector<shown> console_writes() {
    std::vector<shown> result;
    for (const auto& w : fake_console().writes) result.push_back({w.handle, w.units});
    return result;
}

std::vector<wexal::u8port::wide_char> units(std::u16string_view s) { return {s.begin(), s.end()}; }

// A stream buffer standing in for std::cout's or std::cerr's, to see what a
// stream without a console sends through it.
class recording_buffer : public std::streambuf {
public:
    std::string text;
    int syncs = 0;

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) text.push_back(static_cast<char>(c));
        return traits_type::not_eof(c);
    }
    int sync() override {
        ++syncs;
        return 0;
    }
};

class StreamObjects : public ::testing::Test {
protected:
    void SetUp() override { wexal::test::reset_fake_platform(); }
    void TearDown() override { wexal::test::reset_fake_platform(); }
};

struct output_case {
    const char* what;
    int fd;
    handle_kind out_kind;
    handle_kind err_kind;
    void* expected_console;           // the handle a console buffer writes to; null: none
    std::ostream* expected_standard;  // else the standard stream it writes through
};

// Built, a stream asks nothing of the platform: it looks where its standard
// handle points when it writes.
TEST_F(StreamObjects, OutputStreamsWriteToTheirConsoleOrThroughTheStandardStream) {
    std::ostream* const std_out = &std::cout;
    std::ostream* const std_err = &std::cerr;
    using k = handle_kind;
    const std::vector<output_case> cases = {
        {"output on a console", 1, k::console, k::file, out_handle, nullptr},
        {"output to a file", 1, k::file, k::console, nullptr, std_out},
        {"no output handle", 1, k::null, k::console, nullptr, std_out},
        {"invalid output handle", 1, k::invalid, k::console, nullptr, std_out},
        {"error on a console", 2, k::file, k::console, err_handle, nullptr},
        {"error to a file", 2, k::console, k::file, nullptr, std_err},
        {"no error handle", 2, k::console, k::null, nullptr, std_err},
        {"invalid error handle", 2, k::console, k::invalid, nullptr, std_err},
        {"fd 0 means no handle", 0, k::console, k::console, nullptr, std_err},
        {"fd 3 means no handle", 3, k::console, k::console, nullptr, std_err},
        {"fd -1 means no handle", -1, k::console, k::console, nullptr, std_err},
    };
    for (const auto& c : cases) {
        wexal::test::reset_fake_platform();
        script_handle(platform::std_output_handle, out_handle, c.out_kind);
        script_handle(platform::std_error_handle, err_handle, c.err_kind);
        winconsole_ostream s(c.fd, nullptr);
        EXPECT_EQ(fake_call_log(), calls{}) << c.what;
        EXPECT_TRUE(s.good()) << c.what;
        EXPECT_EQ(s.tie(), nullptr) << c.what;
        if (c.expected_console == nullptr) {
            recording_buffer standard;
            std::streambuf* const saved = c.expected_standard->rdbuf(&standard);
            s << "bytes \xFF" << std::flush;
            c.expected_standard->rdbuf(saved);
            EXPECT_EQ(standard.text, "bytes \xFF") << c.what;
            EXPECT_EQ(standard.syncs, 1) << c.what;
            EXPECT_TRUE(fake_console().writes.empty()) << c.what;
            continue;
        }
        ASSERT_NE(dynamic_cast<console_output_buffer*>(s.rdbuf()), nullptr) << c.what;
        s << "Gr\xC3\xBC\xC3\x9F"
             "e \xF0\x9F\x98\x80"
          << std::flush;
        EXPECT_EQ(console_writes(), (std::vector<shown>{{c.expected_console, wide(u"Gr\u00FC\u00DFe \xD83D\xDE00")}}))
            << c.what;
    }
}

TEST_F(StreamObjects, InputStreamOwnsAConsoleBufferOnlyOnAConsole) {
    using k = handle_kind;
    struct input_case {
        const char* what;
        handle_kind kind;
        calls expected_calls;
    };
    const std::vector<input_case> without_console = {
        {"input from a file", k::file, {"GetStdHandle", "GetConsoleMode"}},
        {"no input handle", k::null, {"GetStdHandle"}},
        {"invalid input handle", k::invalid, {"GetStdHandle", "GetConsoleMode"}},
    };
    for (const auto& c : without_console) {
        wexal::test::reset_fake_platform();
        script_handle(platform::std_input_handle, in_handle, c.kind);
        winconsole_istream s(nullptr);
        EXPECT_EQ(fake_call_log(), c.expected_calls) << c.what;
        EXPECT_TRUE(s.good()) << c.what;
        EXPECT_EQ(s.tie(), nullptr) << c.what;
        std::istringstream standard("typed \xFF\nrest");
        std::streambuf* const saved = std::cin.rdbuf(standard.rdbuf());
        std::string line;
        EXPECT_TRUE(std::getline(s, line)) << c.what;
        std::cin.rdbuf(saved);
        EXPECT_EQ(line, "typed \xFF") << c.what;
        EXPECT_EQ(standard.rdbuf()->sgetc(), 'r') << c.what << ": read no further than the line";
    }

    wexal::test::reset_fake_platform();
    script_handle(platform::std_input_handle, in_handle, k::console);
    fake_console().reads.push_back({units(u"h\u00E9llo \U0001F600\r\n"), false, 0});
    winconsole_istream s(nullptr);
    EXPECT_EQ(fake_call_log(), (calls{"GetStdHandle", "GetConsoleMode"}));
    ASSERT_NE(dynamic_cast<console_input_buffer*>(s.rdbuf()), nullptr);
    std::string line;
    ASSERT_TRUE(std::getline(s, line));
    EXPECT_EQ(line, "h\xC3\xA9llo \xF0\x9F\x98\x80");
}

TEST_F(StreamObjects, InputAndDiagnosticsFlushTheTiedStreamFirst) {
    script_all_consoles();
    fake_console().reads.push_back({units(u"y\r\n"), false, 0});
    winconsole_ostream out(1, nullptr);
    winconsole_istream in(&out);
    winconsole_ostream err(2, &out);
    EXPECT_EQ(in.tie(), &out);
    EXPECT_EQ(err.tie(), &out);

    out << "Continue? ";
    EXPECT_TRUE(fake_console().writes.empty()) << "cout is buffered";
    fake_call_log().clear();
    EXPECT_EQ(in.get(), 'y');
    EXPECT_EQ(fake_call_log(), (calls{"GetStdHandle", "WriteConsoleW", "ReadConsoleW"}));
    EXPECT_EQ(console_writes(), (std::vector<shown>{{out_handle, wide(u"Continue? ")}}));

    out << "working";
    err << "warning\n";  // out first, then the line at once
    EXPECT_EQ(console_writes(), (std::vector<shown>{{out_handle, wide(u"Continue? ")},
                                                    {out_handle, wide(u"working")},
                                                    {err_handle, wide(u"warning\n")}}));
}

TEST_F(StreamObjects, StreamsOnOneConsoleKeepSeparateBuffers) {
    script_all_consoles();
    winconsole_ostream out(1, nullptr);
    winconsole_ostream err(2, &out);
    winconsole_ostream log(2, &out);
    winconsole_ostream own_out(1, nullptr);  // built by the application
    EXPECT_NE(err.rdbuf(), log.rdbuf());
    EXPECT_NE(out.rdbuf(), own_out.rdbuf());

    err << "from cerr ";
    log << "from clog ";
    out << "from cout ";
    own_out << "from a stream of its own ";
    log.flush();  // flushes out, its tie, first
    own_out.flush();
    EXPECT_EQ(console_writes(), (std::vector<shown>{{out_handle, wide(u"from cout ")},
                                                    {err_handle, wide(u"from clog ")},
                                                    {out_handle, wide(u"from a stream of its own ")}}));
    err.flush();
    EXPECT_EQ(console_writes().back(), (shown{err_handle, wide(u"from cerr ")}));
}

TEST_F(StreamObjects, OutputDestructorWritesWhatIsPendingAndDeletesItsBuffer) {
    script_all_consoles();
    allocation_scope scope;
    {
        winconsole_ostream out(1, nullptr);
        EXPECT_EQ(scope.allocations(), 1u) << "the console buffer is the stream's only allocation";
        // The trailing bytes begin U+1F600 and can never be completed now.
        out << "bye \xF0\x9F";
        EXPECT_TRUE(fake_console().writes.empty());
    }
    EXPECT_EQ(scope.live(), 0u);
    EXPECT_EQ(console_writes(), (std::vector<shown>{{out_handle, wide(u"bye ")}}));
}

// Without a console a stream writes through the standard stream's buffer of
// the moment, flushes it, and never deletes it.
TEST_F(StreamObjects, WithoutAConsoleTheStandardStreamsCurrentBufferIsUsed) {
    recording_buffer standard_out;
    recording_buffer standard_err;
    std::streambuf* saved_out = nullptr;
    std::streambuf* saved_err = nullptr;
    {
        allocation_scope scope;
        winconsole_ostream out(1, nullptr);  // no handles at all
        winconsole_ostream err(2, &out);
        // Buffers replaced after the streams were made, as
        // std::ios::sync_with_stdio(false) replaces them.
        saved_out = std::cout.rdbuf(&standard_out);
        saved_err = std::cerr.rdbuf(&standard_err);
        out << "caf\xC3\xA9 \xFF";  // bytes pass unchanged, even malformed ones
        err << "oops";
        EXPECT_EQ(standard_out.syncs, 1) << "output on err flushes out first";
    }
    std::cout.rdbuf(saved_out);
    std::cerr.rdbuf(saved_err);
    EXPECT_EQ(standard_out.text, "caf\xC3\xA9 \xFF");
    EXPECT_EQ(standard_err.text, "oops");
    EXPECT_GE(standard_out.syncs, 2);
    EXPECT_GE(standard_err.syncs, 1);
    EXPECT_TRUE(fake_console().writes.empty());
}

TEST_F(StreamObjects, InputDestructorFlushesNothing) {
    script_all_consoles();
    winconsole_ostream out(1, nullptr);
    out << "pending";
    {
        allocation_scope scope;
        {
            winconsole_istream in(&out);
            EXPECT_EQ(scope.allocations(), 1u);
        }
        EXPECT_EQ(scope.live(), 0u);
    }
    EXPECT_TRUE(fake_console().writes.empty());
}

TEST_F(StreamObjects, DestructorSurvivesAFlushThatThrows) {
    struct throw_case {
        const char* what;
        bool mask_on_tie;  // the tied stream throws while the sentry flushes it
    };
    for (const throw_case c : {throw_case{"own flush throws", false}, throw_case{"tied stream's flush throws", true}}) {
        wexal::test::reset_fake_platform();
        script_all_consoles();
        winconsole_ostream out(1, nullptr);
        allocation_scope scope;
        {
            auto* err = new winconsole_ostream(2, &out);
            out << "a";
            *err << "b";  // flushes "a" while the console still works
            fake_console().writes_fail = true;
            out << "c";
            (c.mask_on_tie ? static_cast<std::ostream&>(out) : *err).exceptions(std::ios_base::badbit);
            EXPECT_NO_THROW(delete err) << c.what;
        }
        EXPECT_EQ(scope.live(), 0u) << c.what << ": the buffer was deleted";
        EXPECT_GE(fake_console().writes.size(), 2u) << c.what << ": the console was tried";
        for (std::size_t i = 1; i < fake_console().writes.size(); ++i) {
            EXPECT_FALSE(fake_console().writes[i].succeeded) << c.what;
        }
        out.exceptions(std::ios_base::goodbit);
        out.clear();
        fake_console().writes_fail = false;
    }
}

TEST_F(StreamObjects, ConstructorFailingToAllocateLeavesNothingBehind) {
    script_all_consoles();
    allocation_scope scope;
    scope.fail_at(1);
    EXPECT_THROW(winconsole_ostream(1, nullptr), std::bad_alloc);
    scope.fail_at(1);
    EXPECT_THROW(winconsole_istream(nullptr), std::bad_alloc);
    EXPECT_EQ(scope.live(), 0u);
    EXPECT_TRUE(fake_console().writes.empty());
}

}  // namespace
