// The console output buffer against the fake console: what reaches the
// console for text cut at flushes and at the end of the put area, and what
// happens when the console fails or takes fewer units than it was given.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <wexal/u8port/stackstring.hpp>

#include "console_buffer_access.hpp"
#include "support/fake_console.hpp"
#include "support/fake_platform.hpp"

namespace wexal {
namespace {

using test::fake_console;
using test::wide;
using test::wide_string;
using u8port::detail::console_buffer_test_access;
using u8port::detail::console_output_buffer;

constexpr int eof = -1;

// The whole text converted at once, the way the console should see it.
wide_string whole_conversion(const std::string& text) {
    std::vector<u8port::wide_char> out(text.size() + 1);
    u8port::transcode_into(out.data(), out.size(), text.data(), text.data() + text.size());
    return wide_string(out.data());
}

std::vector<wide_string> units_written() {
    std::vector<wide_string> result;
    for (const test::console_write& w : fake_console().writes) result.push_back(w.units);
    return result;
}

class console_output_buffer_test : public ::testing::Test {
protected:
    void SetUp() override { test::reset_fake_platform(); }
    void TearDown() override { test::reset_fake_platform(); }

    void write(const std::string& bytes) {
        ASSERT_EQ(buffer_->sputn(bytes.data(), static_cast<std::streamsize>(bytes.size())),
                  static_cast<std::streamsize>(bytes.size()));
    }

    void* const handle_ = test::fake_handle(1);
    std::unique_ptr<console_output_buffer> buffer_ = std::make_unique<console_output_buffer>(handle_);
};

// Each piece is written and flushed in turn; every flush succeeds.
struct flush_case {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<std::u16string> writes;  // the units of each WriteConsoleW call
};

const flush_case flush_cases[] = {
    {"letters then half an emoji, then its rest",
     {"ab\xF0\x9F",
      "\x98\x80"
      "c"},
     {u"ab", u"\U0001F600c"}},
    {"four-byte sequence split 1+3", {"\xF0", "\x9F\x98\x80"}, {u"", u"\U0001F600"}},
    {"four-byte sequence split 2+2", {"\xF0\x9F", "\x98\x80"}, {u"", u"\U0001F600"}},
    {"four-byte sequence split 3+1", {"\xF0\x9F\x98", "\x80"}, {u"", u"\U0001F600"}},
    {"incomplete euro sign, then its last byte", {"\xE2\x82", "\xAC"}, {u"", u"\u20AC"}},
    {"byte that cannot start a sequence", {"\xFF"}, {u"\uFFFD"}},
    {"lone continuation byte", {"\x80"}, {u"\uFFFD"}},
    {"lead byte broken off by a letter keeps the letter",
     {"\xE2"
      "A"},
     {u"\uFFFD"
      "A"}},
    {"encoded surrogate",
     {"\xED\xA0\x80"
      "x"},
     {u"\uFFFDx"}},
    {"several scripts",
     {"Gr\xC3\xBC\xC3\x9F"
      "e \xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7 \xD0\xB4\xD0\xB0 \xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x8E\x89\r\n"},
     {u"Gr\u00FC\u00DFe \u03BA\u03B1\u03BB\u03B7 \u0434\u0430 \u4F60\u597D \U0001F389\r\n"}},
    {"an embedded NUL", {std::string("a\0b", 3)}, {std::u16string(u"a\0b", 3)}},
    {"nothing written: no console call", {""}, {}},
    {"everything already written: no second call", {"abc", ""}, {u"abc"}},
    {"lines go out at their end, many in one write", {"a\nb\nc"}, {u"a\nb\n", u"c"}},
    {"a long write: full buffers, then up to its last newline",
     {std::string(console_output_buffer::buffer_size + 476, 'x') + "\n" +
      std::string(console_output_buffer::buffer_size - 424, 'y') + "\nz"},
     {std::u16string(console_output_buffer::buffer_size, 'x'),
      std::u16string(476, 'x') + u"\n" + std::u16string(console_output_buffer::buffer_size - 477, 'y'),
      std::u16string(53, 'y') + u"\n", u"z"}},
};

TEST_F(console_output_buffer_test, flushes_reach_the_console_as_whole_code_points) {
    for (const flush_case& c : flush_cases) {
        SCOPED_TRACE(c.name);
        test::reset_fake_platform();
        buffer_ = std::make_unique<console_output_buffer>(handle_);
        for (const std::string& piece : c.pieces) {
            write(piece);
            EXPECT_EQ(buffer_->pubsync(), 0);
        }
        std::vector<wide_string> expected;
        for (const std::u16string& w : c.writes) expected.push_back(wide(w));
        EXPECT_EQ(units_written(), expected);
        for (const test::console_write& w : fake_console().writes) EXPECT_EQ(w.handle, handle_);
    }
}

TEST_F(console_output_buffer_test, a_full_put_area_is_written_when_one_more_byte_comes) {
    write(std::string(console_output_buffer::buffer_size, 'x'));
    EXPECT_TRUE(fake_console().writes.empty());
    write("y");
    ASSERT_EQ(fake_console().writes.size(), 1u);
    EXPECT_EQ(fake_console().writes[0].units, wide_string(console_output_buffer::buffer_size, u8port::wide_char('x')));
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(fake_console().screen,
              wide_string(console_output_buffer::buffer_size, u8port::wide_char('x')) + wide(u"y"));
}

TEST_F(console_output_buffer_test, a_sequence_cut_by_the_end_of_the_put_area_is_completed) {
    const std::string emoji = "\xF0\x9F\x98\x80";
    for (std::size_t cut = 1; cut <= 3; ++cut) {
        SCOPED_TRACE(cut);
        test::reset_fake_platform();
        buffer_ = std::make_unique<console_output_buffer>(handle_);
        const std::string text = std::string(console_output_buffer::buffer_size - cut, 'a') + emoji + "z";
        write(text);
        EXPECT_EQ(buffer_->pubsync(), 0);
        ASSERT_EQ(fake_console().writes.size(), 2u);
        EXPECT_EQ(fake_console().writes[0].units.size(), console_output_buffer::buffer_size - cut);
        EXPECT_EQ(fake_console().writes[1].units, wide(u"\U0001F600z"));
        EXPECT_EQ(fake_console().screen, whole_conversion(text));
    }
}

TEST_F(console_output_buffer_test, overflow_answers_zero_and_stores_only_a_character) {
    EXPECT_EQ(console_buffer_test_access::overflow(*buffer_, 'x'), 0);
    EXPECT_EQ(console_buffer_test_access::overflow(*buffer_, eof), 0);  // writes the x
    EXPECT_EQ(units_written(), std::vector<wide_string>{wide(u"x")});
    EXPECT_EQ(console_buffer_test_access::overflow(*buffer_, eof), 0);  // nothing pending
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(fake_console().writes.size(), 1u);
}

TEST_F(console_output_buffer_test, a_null_handle_refuses_everything_without_a_platform_call) {
    console_output_buffer buffer(nullptr);
    EXPECT_EQ(buffer.sputc('a'), eof);
    EXPECT_EQ(buffer.sputn("abc", 3), 0);
    EXPECT_EQ(buffer.pubsync(), -1);
    std::ostream stream(&buffer);
    stream << "text";
    EXPECT_TRUE(stream.bad());
    EXPECT_TRUE(test::fake_call_log().empty());
}

TEST_F(console_output_buffer_test, bytes_kept_by_a_failed_write_are_written_once_after_recovery) {
    const std::string text = "h\xC3\xA9llo \xF0\x9F\x98";  // the emoji's last byte comes later
    write(text);
    fake_console().writes_fail = true;
    EXPECT_EQ(buffer_->pubsync(), -1);
    EXPECT_EQ(buffer_->pubsync(), -1);
    fake_console().writes_fail = false;
    write("\x80!");
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(fake_console().screen, wide(u"h\u00E9llo \U0001F600!"));
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(fake_console().writes.size(), 3u);  // two failed, one that succeeded
}

TEST_F(console_output_buffer_test, a_character_refused_by_a_failing_console_is_not_stored) {
    write(std::string(console_output_buffer::buffer_size, 'a'));
    fake_console().writes_fail = true;
    EXPECT_EQ(buffer_->sputc('z'), eof);
    fake_console().writes_fail = false;
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(fake_console().screen, wide_string(console_output_buffer::buffer_size, u8port::wide_char('a')));
}

TEST_F(console_output_buffer_test, short_writes_are_completed_in_the_same_flush) {
    const std::string text = "short: w\xC3\xB6rld \xF0\x9F\x98\x80 \xE4\xBD\xA0!";
    for (std::uint32_t most : {1u, 2u, 3u, 7u}) {
        SCOPED_TRACE(most);
        test::reset_fake_platform();
        buffer_ = std::make_unique<console_output_buffer>(handle_);
        fake_console().max_units_written = most;
        write(text);
        EXPECT_EQ(buffer_->pubsync(), 0);
        EXPECT_EQ(fake_console().screen, whole_conversion(text));
        // Each call is offered what the ones before it did not take.
        const std::size_t units = whole_conversion(text).size();
        EXPECT_EQ(fake_console().writes.size(), (units + most - 1) / most);
        EXPECT_EQ(buffer_->pubsync(), 0);
        EXPECT_EQ(fake_console().writes.size(), (units + most - 1) / most);
    }
}

TEST_F(console_output_buffer_test, a_console_that_takes_no_units_ends_the_flush) {
    fake_console().max_units_written = 0;
    write("lost");
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(fake_console().writes.size(), 1u);
    // The bytes counted as written: nothing is offered again.
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(fake_console().writes.size(), 1u);
}

TEST_F(console_output_buffer_test, units_taken_before_a_failure_are_not_written_again) {
    fake_console().write_outcomes = {{false, 4u}, {true, std::nullopt}};
    write(
        "abcd\xC3\xA9"
        "fgh");
    EXPECT_EQ(buffer_->pubsync(), -1);
    EXPECT_EQ(fake_console().screen, wide(u"abcd"));
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(fake_console().screen, wide(u"abcd\u00E9fgh"));
    EXPECT_EQ(fake_console().writes.back().units, wide(u"\u00E9fgh"));
}

// A stream buffer standing in for std::cout's, to see what reaches it.
class recording_buffer : public std::streambuf {
public:
    std::string text;

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) text.push_back(static_cast<char>(c));
        return traits_type::not_eof(c);
    }
};

// A standard stream's buffer writes where its standard handle points at each
// write: UTF-16 to a console, the bytes through std::cout where the C
// runtime's descriptor points too (freopen, _dup2), else to the handle itself
// (SetStdHandle); what it held for a console goes first, wherever that is.
TEST_F(console_output_buffer_test, a_standard_streams_buffer_writes_where_its_handle_points_now) {
    constexpr std::uint32_t std_output = static_cast<std::uint32_t>(-11);
    void* const console = test::fake_handle(1);
    void* const other_console = test::fake_handle(2);
    void* const file = test::fake_handle(3);
    auto& fake = fake_console();
    fake.consoles = {console, other_console};
    recording_buffer standard_out;
    std::ostream standard(&standard_out);
    console_output_buffer buffer(std_output, 1, standard);
    std::ostream out(&buffer);
    const auto point_at = [&](void* h, void* descriptor) {
        fake.std_handles[std_output] = h;
        fake.descriptor_handles[1] = descriptor;
    };

    point_at(console, console);
    out << "one \xC3\xA9\n"
        << "held ";
    point_at(file, file);  // freopen or _dup2 of a file
    out << "two \xFF\n";
    point_at(file, console);  // SetStdHandle to a file
    out << "three\n";
    point_at(other_console, console);  // back to a console, another handle
    out << "four\n";
    // That console's handle value now names a file (closed and reused): the
    // write fails and the bytes go to the file.
    fake.consoles.erase(other_console);
    fake.descriptor_handles[1] = other_console;
    fake.write_outcomes = {{true, std::nullopt}};
    out << "five\n";

    EXPECT_TRUE(out.good());
    EXPECT_EQ(units_written(),
              (std::vector<wide_string>{wide(u"one \u00E9\n"), wide(u"four\n"), wide(u"five\n") /* failed */}));
    EXPECT_EQ(fake.screen, wide(u"one \u00E9\nfour\n"));
    EXPECT_EQ(standard_out.text, "held two \xFF\nfive\n");
    EXPECT_EQ(fake.file_writes, (std::vector<std::pair<void*, std::string>>{{file, "three\n"}}));
}

// A console that fails a line's write makes the stream fail at once; the
// bytes it did not take are not kept, so writing them again writes them once.
TEST_F(console_output_buffer_test, a_failed_end_of_line_write_fails_the_stream_at_once) {
    std::ostream out(buffer_.get());
    out << "kept ";
    fake_console().write_outcomes = {{true, std::nullopt}};
    out << "line\n";
    EXPECT_TRUE(out.bad());
    out.clear();
    out << "line\n";
    EXPECT_EQ(fake_console().screen, wide(u"kept line\n"));
}

TEST_F(console_output_buffer_test, write_to_console_takes_at_most_one_put_area) {
    const std::string too_long(console_output_buffer::buffer_size + 1, 'a');
    EXPECT_EQ(
        console_buffer_test_access::write_to_console(*buffer_, too_long.data(), static_cast<int>(too_long.size())), -1);
    EXPECT_TRUE(fake_console().writes.empty());

    const std::string full = std::string(console_output_buffer::buffer_size - 2, 'a') + "\xF0\x9F";
    EXPECT_EQ(console_buffer_test_access::write_to_console(*buffer_, full.data(), static_cast<int>(full.size())),
              static_cast<int>(console_output_buffer::buffer_size - 2));
    ASSERT_EQ(fake_console().writes.size(), 1u);
    EXPECT_EQ(fake_console().writes[0].units.size(), console_output_buffer::buffer_size - 2);
}

TEST_F(console_output_buffer_test, destruction_writes_nothing) {
    write("pending");
    buffer_.reset();
    EXPECT_TRUE(fake_console().writes.empty());
}

TEST_F(console_output_buffer_test, writing_and_flushing_allocate_nothing) {
    const std::string text(3000, 'q');
    const test::allocation_scope scope;
    write(text);
    EXPECT_EQ(buffer_->pubsync(), 0);
    EXPECT_EQ(scope.allocations(), 0u);
}

// Random text with malformed bytes among the code points, written in pieces
// of random size with flushes at random places: the console receives the
// same units as one conversion of the whole text, whether it takes every
// write whole or only a few units at a time.
TEST_F(console_output_buffer_test, random_text_cut_anywhere_reaches_the_console_as_one_conversion) {
    std::mt19937 random(20240611u);
    const auto below = [&random](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        test::reset_fake_platform();
        buffer_ = std::make_unique<console_output_buffer>(handle_);
        if (below(3) == 0) fake_console().max_units_written = 1 + below(8);

        std::string text;
        const std::uint32_t length = 1 + below(4000);
        while (text.size() < length) {
            const std::uint32_t kind = below(20);
            if (kind == 0) {
                text += "\xFF";
            } else if (kind == 1) {
                text += "\x80";
            } else if (kind == 2) {
                text +=
                    "\xE2"
                    "A";
            } else {
                static const std::uint32_t limits[] = {0x80, 0x800, 0x10000, 0x110000};
                u8port::code_point c = below(limits[below(4)]);
                if (c >= 0xD800 && c <= 0xDFFF) c = 0xE000;
                if (c == 0) c = 1;  // the whole conversion below stops at a NUL
                char bytes[4];
                text.append(bytes, u8port::utf8_codec::encode(c, bytes));
            }
        }
        text += "z";  // no incomplete sequence is left at the end

        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t piece = std::min<std::size_t>(text.size() - at, 1 + below(1500));
            write(text.substr(at, piece));
            at += piece;
            if (below(2) == 0) {
                ASSERT_EQ(buffer_->pubsync(), 0);
            }
        }
        ASSERT_EQ(buffer_->pubsync(), 0);
        ASSERT_EQ(fake_console().screen, whole_conversion(text));
    }
}

}  // namespace
}  // namespace wexal
