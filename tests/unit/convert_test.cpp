// widen and narrow, default and lossless: the conversion table, the round
// trips the lossless forms promise, and what the strings cost in allocations.
#include <wexal/u8port/convert.hpp>
#include "support/transcode_reference.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/counting_allocator.hpp"

namespace {

namespace u8 = wexal::u8port;
using u8::lossless;
using u8::wide_string;
using W = wide_string;
using S = std::string;

const S fffd = "\xEF\xBF\xBD";

// A UTF-16 literal as a wide string on either platform.
template <std::size_t N>
W w(const char16_t (&s)[N]) {
    return W(s, s + N - 1);
}

// The plain loop's conversion of a whole string.
template <typename Out, typename In>
std::basic_string<Out> reference(const std::basic_string<In>& s) {
    std::vector<Out> out(s.size() * 3 + 1);
    const auto r = u8::detail::transcode_counted_reference(out.data(), out.size(), s.data(), s.data() + s.size());
    return std::basic_string<Out>(out.data(), r.out);
}

TEST(Convert, WidenDefaultAndLossless) {
    struct row {
        const char* what;
        S in;
        W out, lossless_out;
    };
    const W r(1, 0xFFFD);
    const std::vector<row> rows = {
        {"empty", "", W(), W()},
        {"ASCII", "abc", w(u"abc"), w(u"abc")},
        {"every width", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", w(u"a\u00E9\u20AC\U0001F600"),
         w(u"a\u00E9\u20AC\U0001F600")},
        {"embedded NUL", S("a\0b", 3), w(u"a\0b"), w(u"a\0b")},
        {"stray continuation",
         "a\x80"
         "b",
         w(u"a") + r + w(u"b"), w(u"a") + r + w(u"b")},
        {"lead then letter",
         "\xE2"
         "A",
         r + w(u"A"), r + w(u"A")},
        {"truncated at the end", "a\xE2\x82", w(u"a") + r, w(u"a") + r},
        {"overlong", "\xC0\xAF", r + r, r + r},
        {"above U+10FFFF", "\xF4\x90\x80\x80", r, r},
        {"byte FF", "\xFF", r, r},
        {"U+D7FF, not a surrogate", "\xED\x9F\xBF", w(u"\uD7FF"), w(u"\uD7FF")},
        {"lead form at the start", "\xED\xA0\x80z", r + w(u"z"), W{0xD800, 'z'}},
        {"trail form in the middle", "a\xED\xB0\x80z", w(u"a") + r + w(u"z"), W{'a', 0xDC00, 'z'}},
        {"lead form at the end", "a\xED\xAF\xBF", w(u"a") + r, W{'a', 0xDBFF}},
        {"trail then lead form", "\xED\xBF\xBF\xED\xA0\x80", r + r, W{0xDFFF, 0xD800}},
        {"a pair as two forms", "\xED\xA0\xBD\xED\xB8\x80", r + r, w(u"\U0001F600")},
        {"cut-off form", "\xED\xA0", r, r},
        {"form missing its last byte",
         "\xED\xA0"
         "a",
         r + w(u"a"), r + w(u"a")},
    };
    for (const auto& c : rows) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(u8::widen(c.in), c.out);
        EXPECT_EQ(u8::widen(c.in, lossless), c.lossless_out);
    }
    EXPECT_EQ(u8::widen(static_cast<const char*>(nullptr)), W());
    EXPECT_EQ(u8::widen(static_cast<const char*>(nullptr), lossless), W());
    EXPECT_EQ(u8::widen("a\xC3\xA9"), w(u"a\u00E9"));
#if defined(__cpp_char8_t)
    EXPECT_EQ(u8::widen(u8"a\u00E9"), w(u"a\u00E9"));
    EXPECT_EQ(u8::widen(std::u8string(u8"\U0001F600"), lossless), w(u"\U0001F600"));
#endif
}

TEST(Convert, NarrowDefaultAndLossless) {
    struct row {
        const char* what;
        W in;
        S out, lossless_out;
    };
    const std::vector<row> rows = {
        {"empty", W(), "", ""},
        {"ASCII", w(u"abc"), "abc", "abc"},
        {"every width", w(u"a\u00E9\u20AC\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"embedded NUL", w(u"a\0b"), S("a\0b", 3), S("a\0b", 3)},
        {"lead at the start", W{0xD800, 'z'}, fffd + "z", "\xED\xA0\x80z"},
        {"trail in the middle", W{'a', 0xDC00, 'z'}, "a" + fffd + "z", "a\xED\xB0\x80z"},
        {"lead at the end", W{'a', 0xDBFF}, "a" + fffd, "a\xED\xAF\xBF"},
        {"trail then lead", W{0xDFFF, 0xD800}, fffd + fffd, "\xED\xBF\xBF\xED\xA0\x80"},
        {"lead, then a pair", W{0xD800, 0xD83D, 0xDE00}, fffd + "\xF0\x9F\x98\x80", "\xED\xA0\x80\xF0\x9F\x98\x80"},
        {"U+FFFD itself", w(u"\uFFFD"), fffd, fffd},
    };
    for (const auto& c : rows) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(u8::narrow(c.in), c.out);
        EXPECT_EQ(u8::narrow(c.in, lossless), c.lossless_out);
    }
    EXPECT_EQ(u8::narrow(static_cast<const u8::wide_char*>(nullptr)), S());
    EXPECT_EQ(u8::narrow(static_cast<const u8::wide_char*>(nullptr), lossless), S());
}

// Every unit, pair and triple from the boundary values, and random longer
// sequences: the lossless forms give back what they were given, agree with
// the default ones where nothing is lost, and the default ones equal the
// plain conversion loop.
TEST(Convert, LosslessRoundTrips) {
    const std::vector<u8::wide_char> edges = {0,      0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800,
                                              0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
    std::vector<W> inputs;
    for (const auto a : edges) {
        inputs.push_back(W{a});
        for (const auto b : edges) {
            inputs.push_back(W{a, b});
            for (const auto c : edges) inputs.push_back(W{a, b, c});
        }
    }
    std::uint64_t seed = 11;
    for (int i = 0; i < 2000; ++i) {
        W u;
        for (std::size_t n = seed % 40; n > 0; --n) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            const auto x = static_cast<u8::wide_char>(seed >> 48);
            u.push_back(seed & 0x100 ? edges[(seed >> 20) % edges.size()] : x);
        }
        inputs.push_back(u);
    }
    for (const W& u : inputs) {
        SCOPED_TRACE(::testing::PrintToString(std::vector<unsigned>(u.begin(), u.end())));
        const S s = u8::narrow(u, lossless);
        ASSERT_EQ(u8::widen(s, lossless), u);
        ASSERT_EQ(u8::narrow(u8::widen(s, lossless), lossless), s);
        const S plain = u8::narrow(u);
        ASSERT_EQ(plain, reference<char>(u));
        ASSERT_EQ(u8::widen(s), reference<u8::wide_char>(s));
        if (u8::widen(plain) == u) {
            ASSERT_EQ(s, plain);
        }
        ASSERT_EQ(u8::widen(plain, lossless), u8::widen(plain));
    }
    // Joined lossless strings lose nothing.
    for (const auto a : edges) {
        for (const auto b : edges) {
            ASSERT_EQ(u8::widen(u8::narrow(W{a}, lossless) + u8::narrow(W{b}, lossless), lossless), (W{a, b}));
        }
    }
}

#if !defined(_WIN32)
// A result beyond the string's small buffer costs one allocation, with at
// most a sixteenth of spare room; a short one none. (Counted on Linux only:
// with mingw the string's members live in libstdc++'s DLL, where the replaced
// operator new is not seen.)
TEST(Convert, OneAllocationOfAboutTheSize) {
    const S text = S(300, 'a') + "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xED\xA0\x80" + S(300, 'z');
    S long_text;
    for (int i = 0; i < 60; ++i) long_text += text;
    const W units = u8::widen(text, lossless);
    const W long_units = u8::widen(long_text, lossless);
    const auto check = [](const char* what, std::size_t allocations, auto convert) {
        SCOPED_TRACE(what);
        wexal::test::allocation_scope scope;
        const auto result = convert();
        EXPECT_EQ(scope.allocations(), allocations);
        EXPECT_LE(result.capacity(), std::decay_t<decltype(result)>(result.size(), 0).capacity() + result.size() / 16);
    };
    check("short widen", 0, [] { return u8::widen("caf\xC3\xA9"); });
    const W short_units = w(u"caf\u00E9 \u65E5\u672C");
    check("short narrow", 0, [&] { return u8::narrow(short_units); });
    check("short lossless", 0, [] { return u8::narrow(W{'a', 0xD800}, lossless); });
    const S medium(10, 'm');
    check("medium widen", 1, [&] { return u8::widen(medium); });
    check("widen", 1, [&] { return u8::widen(text); });
    check("narrow", 1, [&] { return u8::narrow(units); });
    check("lossless widen", 1, [&] { return u8::widen(text, lossless); });
    check("lossless narrow", 1, [&] { return u8::narrow(units, lossless); });
    check("long widen", 1, [&] { return u8::widen(long_text); });
    check("long narrow", 1, [&] { return u8::narrow(long_units); });
}
#endif

}  // namespace
