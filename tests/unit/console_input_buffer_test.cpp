// The console input buffer against the fake console: console reads come back
// as UTF-8 with CR LF as LF, pairs and CR LF split between reads are joined,
// the end of input is reported only where it is, and bytes can be put back.
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wexal/u8port/stackstring.hpp>

#include "console_buffer_access.hpp"
#include "support/fake_console.hpp"
#include "support/fake_platform.hpp"

namespace wexal {
namespace {

using test::fake_console;
using u8port::wide_char;
using u8port::detail::console_buffer_test_access;
using u8port::detail::console_input_buffer;

constexpr int eof = -1;
constexpr std::uint32_t error_operation_aborted = 995;

std::vector<wide_char> units(std::u16string_view text) { return std::vector<wide_char>(text.begin(), text.end()); }

test::console_read read_of(std::u16string_view text) { return test::console_read{units(text), false, 0}; }
test::console_read failed_read() { return test::console_read{{}, true, 0}; }

// A read of n units: head, letters, tail.
test::console_read padded_read(std::u16string_view head, std::u16string_view tail, std::size_t n = 1024) {
    std::vector<wide_char> text = units(head);
    text.resize(n - tail.size(), wide_char('a'));
    text.insert(text.end(), tail.begin(), tail.end());
    return test::console_read{text, false, 0};
}
const std::string a1023(1023, 'a');

// The whole text converted at once, with every CR LF as LF.
std::string whole_conversion(const std::vector<wide_char>& text) {
    std::string out(3 * text.size(), '\0');
    out.resize(static_cast<std::size_t>(
        u8port::transcode(&out[0], out.size(), text.data(), text.data() + text.size()).out - out.data()));
    for (std::size_t at = 0; (at = out.find("\r\n", at)) != std::string::npos;) out.erase(at, 1);
    return out;
}

class console_input_buffer_test : public ::testing::Test {
protected:
    void SetUp() override { test::reset_fake_platform(); }
    void TearDown() override { test::reset_fake_platform(); }

    // Every byte up to the next end of file.
    std::string read_all() {
        std::string bytes;
        for (int c = buffer_->sbumpc(); c != eof; c = buffer_->sbumpc()) bytes += static_cast<char>(c);
        return bytes;
    }
    // The next n bytes; stops early at end of file.
    std::string read_bytes(std::size_t n) {
        std::string bytes;
        for (int c = 0; bytes.size() < n && (c = buffer_->sbumpc()) != eof;) bytes += static_cast<char>(c);
        return bytes;
    }
    void put_back(char c) { ASSERT_NE(buffer_->sputbackc(c), eof); }

    void* const handle_ = test::fake_handle(2);
    std::unique_ptr<console_input_buffer> buffer_ = std::make_unique<console_input_buffer>(handle_);
};

// Reads scripted one after another; each refill's bytes, up to its end of file.
struct refill_case {
    const char* name;
    std::vector<test::console_read> reads;
    std::vector<std::string> refills;  // the bytes between two ends of file
};

const refill_case refill_cases[] = {
    {"a typed line", {read_of(u"h\u00E9llo \u4F60\U0001F600\r\n")}, {"h\xC3\xA9llo \xE4\xBD\xA0\xF0\x9F\x98\x80\n"}},
    {"a carried lead surrogate and a letter", {read_of(u"x\xD83D"), read_of(u"y\r\n")}, {"x\xEF\xBF\xBDy\n"}},
    {"an embedded NUL", {read_of(std::u16string_view(u"a\0b", 3))}, {std::string("a\0b", 3)}},
    {"CR LF split by a full read", {padded_read(u"", u"\r"), read_of(u"\nb")}, {a1023 + "\nb"}},
    {"a lone CR mid-line and before CR LF", {read_of(u"a\rb\r\r\n")}, {"a\rb\r\n"}},
    {"a CR ending a short read goes out alone", {read_of(u"a\r"), read_of(u"\nb")}, {"a\r\nb"}},
    {"a CR at the end of input", {read_of(u"a\r")}, {"a\r"}},
    {"a carried CR at the end of input", {padded_read(u"", u"\r")}, {a1023 + "\r"}},
    {"a carried CR followed by CR LF", {padded_read(u"", u"\r"), read_of(u"\r\n")}, {a1023 + "\r\n"}},
    {"a carried CR before a failed read",
     {padded_read(u"", u"\r"), failed_read(), read_of(u"\n")},
     {a1023 + "\r", "\n"}},
    {"a surrogate pair and a CR LF cut at full reads",
     {padded_read(u"", u"\xD83D"), padded_read(u"\xDE00", u"\r", 1023), read_of(u"\n")},
     {a1023 + "\xF0\x9F\x98\x80" + std::string(1021, 'a') + "\n"}},
    {"ctrl+z after a carried CR ends the input behind it",
     {padded_read(u"", u"\r"), read_of(u"\x1Arest\r\n"), read_of(u"x")},
     {a1023 + "\r", "x"}},
    {"a lone trail surrogate", {read_of(u"\xDE00z")}, {"\xEF\xBF\xBDz"}},
    {"a lone lead surrogate read alone is no end of file",
     {read_of(u"\xD83D"), read_of(u"\xDE00!")},
     {"\xF0\x9F\x98\x80!"}},
    {"ctrl+z first ends the input and drops its read",
     {read_of(u"\x1Arest\r\n"), read_of(u"next\r\n")},
     {"", "next\n"}},
    {"ctrl+z later is an ordinary byte",
     {read_of(u"a\x1A"
              u"b\r\n")},
     {"a\x1A"
      "b\n"}},
    {"ctrl+z behind a carried lead surrogate is an ordinary byte",
     {read_of(u"\xD83D"), read_of(u"\x1A"
                                  u"b")},
     {"\xEF\xBF\xBD\x1A"
      "b"}},
    {"ctrl+c handled by the program: read again",
     {test::console_read{{}, false, error_operation_aborted}, read_of(u"after\r\n")},
     {"after\n"}},
    {"zero units without ctrl+c is the end of input", {read_of(u""), read_of(u"more")}, {"", "more"}},
    {"a failed read is an end of file, even after ctrl+c",
     {test::console_read{{}, true, error_operation_aborted}, read_of(u"ok")},
     {"", "ok"}},
};

TEST_F(console_input_buffer_test, refills_deliver_console_input_as_utf8) {
    for (const refill_case& c : refill_cases) {
        SCOPED_TRACE(c.name);
        test::reset_fake_platform();
        buffer_ = std::make_unique<console_input_buffer>(handle_);
        fake_console().reads.assign(c.reads.begin(), c.reads.end());
        for (const std::string& expected : c.refills) EXPECT_EQ(read_all(), expected);
        EXPECT_TRUE(fake_console().reads.empty());
    }
}

TEST_F(console_input_buffer_test, a_surrogate_pair_split_between_two_reads_is_joined) {
    std::vector<wide_char> first(console_input_buffer::wbuffer_size - 1, wide_char('a'));
    first.push_back(wide_char(0xD83D));
    fake_console().reads = {test::console_read{first, false, 0}, read_of(u"\xDE00"
                                                                         u"a\r\n")};

    EXPECT_EQ(console_buffer_test_access::underflow(*buffer_), 'a');
    EXPECT_EQ(buffer_->in_avail(), static_cast<std::streamsize>(console_input_buffer::wbuffer_size - 1));
    EXPECT_EQ(console_buffer_test_access::wpending(*buffer_), 1u);
    EXPECT_EQ(read_bytes(console_input_buffer::wbuffer_size - 1),
              std::string(console_input_buffer::wbuffer_size - 1, 'a'));
    EXPECT_EQ(read_all(),
              "\xF0\x9F\x98\x80"
              "a\n");
    EXPECT_EQ(console_buffer_test_access::wpending(*buffer_), 0u);
    const std::vector<std::uint32_t> capacities = {1024, 1023, 1024};
    EXPECT_EQ(fake_console().read_capacities, capacities);
}

TEST_F(console_input_buffer_test, a_failed_read_keeps_the_carried_unit) {
    fake_console().reads = {read_of(u"a\xD83D"), failed_read(), read_of(u"\xDE00")};
    EXPECT_EQ(read_all(), "a");
    EXPECT_EQ(console_buffer_test_access::wpending(*buffer_), 1u);
    EXPECT_EQ(read_all(), "\xF0\x9F\x98\x80");
    const std::vector<std::uint32_t> capacities = {1024, 1023, 1023, 1024};
    EXPECT_EQ(fake_console().read_capacities, capacities);
}

TEST_F(console_input_buffer_test, a_stream_goes_on_reading_after_ctrl_z_once_its_state_is_cleared) {
    fake_console().reads = {read_of(u"first\r\n"), read_of(u"\x1A\r\n"), read_of(u"second\r\n")};
    std::istream in(buffer_.get());
    std::string line;
    EXPECT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "first");
    EXPECT_FALSE(std::getline(in, line));
    EXPECT_TRUE(in.eof());
    in.clear();
    EXPECT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "second");
}

TEST_F(console_input_buffer_test, a_null_handle_reads_nothing_but_takes_put_back_bytes) {
    console_input_buffer buffer(nullptr);
    EXPECT_EQ(buffer.sgetc(), eof);
    EXPECT_NE(buffer.sputbackc('q'), eof);
    EXPECT_EQ(buffer.sbumpc(), 'q');
    EXPECT_EQ(buffer.sgetc(), eof);
    EXPECT_TRUE(test::fake_call_log().empty());
}

TEST_F(console_input_buffer_test, bytes_put_back_before_any_read_come_out_last_first) {
    fake_console().reads = {read_of(u"z")};
    for (char c : std::string("abc")) put_back(c);
    EXPECT_EQ(console_buffer_test_access::putback_store_size(*buffer_), 4u);
    EXPECT_EQ(read_bytes(3), "cba");
    EXPECT_TRUE(fake_console().read_capacities.empty());
    EXPECT_EQ(read_all(), "z");  // the next byte comes from the console
}

TEST_F(console_input_buffer_test, the_put_back_store_grows_by_doubling) {
    for (char c : std::string("abcd")) put_back(c);
    EXPECT_EQ(console_buffer_test_access::putback_store_size(*buffer_), 4u);
    put_back('e');
    EXPECT_EQ(console_buffer_test_access::putback_store_size(*buffer_), 8u);
    for (char c : std::string("fghijklmnopqrstu")) put_back(c);
    EXPECT_EQ(console_buffer_test_access::putback_store_size(*buffer_), 32u);
    EXPECT_EQ(read_all(), "utsrqponmlkjihgfedcba");
}

TEST_F(console_input_buffer_test, a_byte_put_back_over_a_read_one_replaces_it) {
    fake_console().reads = {read_of(u"ab\r\n")};
    EXPECT_EQ(buffer_->sbumpc(), 'a');
    put_back('X');
    EXPECT_EQ(read_all(), "Xb\n");
}

TEST_F(console_input_buffer_test, unread_bytes_follow_bytes_put_back_at_the_start_of_the_get_area) {
    fake_console().reads = {read_of(u"ab\u00E9\r\n"), read_of(u"next")};
    EXPECT_EQ(buffer_->sgetc(), 'a');  // refilled, nothing taken yet
    put_back('2');
    put_back('1');
    EXPECT_EQ(read_all(), "12ab\xC3\xA9\nnext");

    // Bytes put back into the get area itself stay in front as well.
    fake_console().reads = {read_of(u"cd")};
    EXPECT_EQ(buffer_->sbumpc(), 'c');
    put_back('Y');  // replaces the c at the start of the get area
    put_back('X');
    EXPECT_EQ(read_all(), "XYd");
}

TEST_F(console_input_buffer_test, stepping_back_without_a_byte_fails_at_the_start) {
    EXPECT_EQ(console_buffer_test_access::pbackfail(*buffer_, eof), eof);
    EXPECT_EQ(buffer_->sungetc(), eof);
    put_back('a');
    EXPECT_EQ(console_buffer_test_access::pbackfail(*buffer_, eof), eof);
    EXPECT_EQ(console_buffer_test_access::pbackfail(*buffer_, 'b'), 0);  // success is 0, not the byte
    EXPECT_EQ(read_bytes(2), "ba");
}

TEST_F(console_input_buffer_test, a_put_back_that_cannot_allocate_changes_nothing) {
    for (char c : std::string("abcd")) put_back(c);
    {
        test::allocation_scope scope;
        scope.fail_at(1);
        EXPECT_THROW(buffer_->sputbackc('e'), std::bad_alloc);
    }
    EXPECT_EQ(console_buffer_test_access::putback_store_size(*buffer_), 4u);
    EXPECT_EQ(read_bytes(4), "dcba");

    console_input_buffer fresh(handle_);
    {
        test::allocation_scope scope;
        scope.fail_at(1);
        EXPECT_THROW(fresh.sputbackc('e'), std::bad_alloc);
    }
    EXPECT_EQ(console_buffer_test_access::putback_store_size(fresh), 0u);
    fake_console().reads = {read_of(u"ok")};
    EXPECT_EQ(fresh.sbumpc(), 'o');
}

TEST_F(console_input_buffer_test, a_refill_allocates_nothing) {
    fake_console().reads = {read_of(u"some input \U0001F600\r\n")};
    const test::allocation_scope scope;
    EXPECT_EQ(buffer_->sgetc(), 's');
    EXPECT_EQ(scope.allocations(), 0u);
}

// Random UTF-16 text, lone surrogates included, cut into reads of random
// length (some longer than one read can take, some a single unit): the
// bytes delivered equal one conversion of the whole text, each CR LF as LF.
// (No short read ends in a CR: that CR would go out alone.)
TEST_F(console_input_buffer_test, random_text_in_random_reads_arrives_as_one_conversion) {
    std::mt19937 random(19700101u);
    const auto below = [&random](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        test::reset_fake_platform();
        buffer_ = std::make_unique<console_input_buffer>(handle_);

        std::vector<wide_char> text;
        const std::uint32_t length = 1 + below(5000);
        while (text.size() < length) {
            const std::uint32_t kind = below(16);
            if (kind == 0) {
                text.push_back(wide_char(0xD800 + below(0x800)));  // a surrogate on its own
            } else {
                static const std::uint32_t limits[] = {0x80, 0x800, 0x10000, 0x110000};
                u8port::code_point c = below(limits[below(4)]);
                if (c == 0x1A) c = 0x1B;  // Ctrl+Z starting a read would end the input
                wide_char pair[2];
                wide_char* end = u8port::utf16_codec::encode(c, pair);
                text.insert(text.end(), pair, end);
            }
        }
        text.push_back(wide_char('\n'));  // no lead surrogate is left waiting at the end

        std::size_t at = 0;
        while (at < text.size()) {
            const std::uint32_t sizes[] = {1, 1 + below(8), 1 + below(2000)};
            std::size_t n = std::min<std::size_t>(text.size() - at, sizes[below(3)]);
            while (at + n < text.size() && text[at + n - 1] == wide_char('\r')) ++n;
            fake_console().reads.push_back(
                test::console_read{std::vector<wide_char>(text.begin() + static_cast<std::ptrdiff_t>(at),
                                                          text.begin() + static_cast<std::ptrdiff_t>(at + n)),
                                   false, 0});
            at += n;
        }
        ASSERT_EQ(read_all(), whole_conversion(text));
        ASSERT_TRUE(fake_console().reads.empty());
    }
}

}  // namespace
}  // namespace wexal
