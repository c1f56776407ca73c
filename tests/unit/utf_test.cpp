#include <wexal/u8port/utf.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using wexal::u8port::code_point;
using wexal::u8port::invalid_input;
using wexal::u8port::truncated_input;
using wexal::u8port::utf16_codec;
using wexal::u8port::utf8_codec;
using wexal::u8port::wide_char;

// One decode result and the number of units it consumed.
using step = std::pair<code_point, int>;

template <typename Codec, typename Unit>
std::vector<step> decode_all(const std::vector<Unit>& input) {
    std::vector<step> steps;
    const Unit* cursor = input.data();
    const Unit* const end = input.data() + input.size();
    do {
        const Unit* before = cursor;
        const code_point c = Codec::decode(cursor, end);
        steps.emplace_back(c, static_cast<int>(cursor - before));
        if (c == truncated_input) break;
    } while (cursor != end);
    return steps;
}

struct utf8_case {
    std::vector<unsigned char> bytes;
    std::vector<step> expected;
};

TEST(Utf8Decode, FollowsTheDecodingTable) {
    // A byte that breaks off a sequence is not consumed with it: it begins the
    // next sequence. Complete but invalid sequences are consumed whole.
    const std::vector<utf8_case> cases = {
        {{0x41}, {{0x41, 1}}},
        {{0xC3, 0xA9}, {{0xE9, 2}}},
        {{0xE2, 0x82, 0xAC}, {{0x20AC, 3}}},
        {{0xF0, 0x9F, 0x98, 0x80}, {{0x1F600, 4}}},
        {{0xC3, 0x41}, {{invalid_input, 1}, {0x41, 1}}},
        {{0xF0, 0x9F, 0x41}, {{invalid_input, 2}, {0x41, 1}}},
        {{0x61, 0xC3, 0x28}, {{0x61, 1}, {invalid_input, 1}, {0x28, 1}}},
        {{0x80, 0x41}, {{invalid_input, 1}, {0x41, 1}}},
        {{0xC0, 0x80}, {{invalid_input, 1}, {invalid_input, 1}}},
        {{0xF5, 0x41}, {{invalid_input, 1}, {0x41, 1}}},
        {{0xE0, 0x80, 0x80}, {{invalid_input, 3}}},
        {{0xED, 0xA0, 0x80}, {{invalid_input, 3}}},
        {{0xF4, 0x90, 0x80, 0x80}, {{invalid_input, 4}}},
        {{0xE2, 0x82}, {{truncated_input, 2}}},
        {{}, {{truncated_input, 0}}},
        // A Latin-1 "café.txt" keeps its dot; a stray lead byte keeps the newline.
        {{0x63, 0x61, 0x66, 0xE9, 0x2E, 0x74},
         {{0x63, 1}, {0x61, 1}, {0x66, 1}, {invalid_input, 1}, {0x2E, 1}, {0x74, 1}}},
        {{0xE2, 0x0A}, {{invalid_input, 1}, {0x0A, 1}}},
        {{0xE2, 0x82, 0xE2, 0x82, 0xAC}, {{invalid_input, 2}, {0x20AC, 3}}},
    };
    for (const auto& c : cases) {
        const std::vector<char> input(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(decode_all<utf8_codec>(input), c.expected)
            << "input of " << c.bytes.size() << " bytes, first " << (c.bytes.empty() ? -1 : c.bytes[0]);
    }
}

struct utf16_case {
    std::vector<wide_char> units;
    std::vector<step> expected;
};

TEST(Utf16Decode, FollowsTheDecodingTable) {
    const std::vector<utf16_case> cases = {
        {{0x0041}, {{0x41, 1}}},
        {{0xD83D, 0xDE00}, {{0x1F600, 2}}},
        {{0xDE00, 0x0041}, {{invalid_input, 1}, {0x41, 1}}},
        {{0xD83D, 0x0041}, {{invalid_input, 1}, {0x41, 1}}},
        {{0xD83D, 0xD83D, 0xDE00}, {{invalid_input, 1}, {0x1F600, 2}}},
        {{0xD83D}, {{truncated_input, 1}}},
        {{}, {{truncated_input, 0}}},
        {{0xFFFF, 0xE000}, {{0xFFFF, 1}, {0xE000, 1}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode_all<utf16_codec>(c.units), c.expected) << "first unit " << (c.units.empty() ? -1 : c.units[0]);
    }
}

TEST(Utf8Codec, LeadByteClassificationCoversEveryByte) {
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const int expected = b < 0x80 ? 0 : b < 0xC2 ? -1 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b <= 0xF4 ? 3 : -1;
        EXPECT_EQ(utf8_codec::trail_count(byte), expected) << "byte " << b;
        EXPECT_EQ(utf8_codec::is_continuation(byte), b >= 0x80 && b <= 0xBF) << "byte " << b;

        // As a lone lead byte: ASCII decodes, an impossible lead is invalid
        // and consumed, a real lead is truncated at the end of the input.
        const char lone = static_cast<char>(b);
        const char* cursor = &lone;
        const code_point c = utf8_codec::decode(cursor, &lone + 1);
        EXPECT_EQ(cursor, &lone + 1) << "byte " << b;
        EXPECT_EQ(c, expected == 0  ? static_cast<code_point>(b)
                     : expected < 0 ? invalid_input
                                    : truncated_input)
            << "byte " << b;
    }
}

TEST(Utf16Codec, EverySingleUnitDecodesAsItsKind) {
    for (std::uint32_t u = 0; u <= 0xFFFF; ++u) {
        const wide_char unit = static_cast<wide_char>(u);
        const wide_char* cursor = &unit;
        const code_point c = utf16_codec::decode(cursor, &unit + 1);
        EXPECT_EQ(cursor, &unit + 1);
        if (u < 0xD800 || u > 0xDFFF) {
            ASSERT_EQ(c, u);
        } else if (u <= 0xDBFF) {
            ASSERT_EQ(c, truncated_input) << std::hex << u;
        } else {
            ASSERT_EQ(c, invalid_input) << std::hex << u;
        }
    }
}

TEST(Encoders, WriteTheBoundaryCodePoints) {
    const std::vector<std::pair<code_point, std::vector<unsigned char>>> utf8 = {
        {0x7F, {0x7F}},
        {0x80, {0xC2, 0x80}},
        {0x7FF, {0xDF, 0xBF}},
        {0x800, {0xE0, 0xA0, 0x80}},
        {0xFFFF, {0xEF, 0xBF, 0xBF}},
        {0xFFFD, {0xEF, 0xBF, 0xBD}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
    };
    for (const auto& [c, bytes] : utf8) {
        char out[4] = {};
        char* end = utf8_codec::encode(c, out);
        ASSERT_EQ(end - out, utf8_codec::width(c));
        EXPECT_EQ(std::vector<unsigned char>(out, end), bytes) << std::hex << c;
    }
    const std::vector<std::pair<code_point, std::vector<wide_char>>> utf16 = {
        {0xFFFF, {0xFFFF}},
        {0x10000, {0xD800, 0xDC00}},
        {0x1F600, {0xD83D, 0xDE00}},
        {0x10FFFF, {0xDBFF, 0xDFFF}},
    };
    for (const auto& [c, units] : utf16) {
        wide_char out[2] = {};
        wide_char* end = utf16_codec::encode(c, out);
        ASSERT_EQ(end - out, utf16_codec::width(c));
        EXPECT_EQ(std::vector<wide_char>(out, end), units) << std::hex << c;
    }
}

TEST(Codecs, EveryValidCodePointRoundTripsWithItsWidth) {
    for (code_point c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            ASSERT_FALSE(utf8_codec::is_valid_code_point(c));
            continue;
        }
        ASSERT_TRUE(utf8_codec::is_valid_code_point(c));

        char bytes[4];
        char* bytes_end = utf8_codec::encode(c, bytes);
        ASSERT_EQ(bytes_end - bytes, utf8_codec::width(c));
        const char* cursor = bytes;
        ASSERT_EQ(utf8_codec::decode(cursor, static_cast<const char*>(bytes_end)), c);
        ASSERT_EQ(cursor, bytes_end);

        wide_char units[2];
        wide_char* units_end = utf16_codec::encode(c, units);
        ASSERT_EQ(units_end - units, utf16_codec::width(c));
        const wide_char* wcursor = units;
        ASSERT_EQ(utf16_codec::decode(wcursor, static_cast<const wide_char*>(units_end)), c);
        ASSERT_EQ(wcursor, units_end);
    }
    EXPECT_FALSE(utf8_codec::is_valid_code_point(0x110000));
    EXPECT_FALSE(utf16_codec::is_valid_code_point(invalid_input));
    EXPECT_FALSE(utf16_codec::is_valid_code_point(truncated_input));
}

TEST(Utf8Decode, EveryPairOfBytesProgressesAndKeepsAByteThatBreaksASequence) {
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const auto lead = static_cast<unsigned char>(a);
            const auto next = static_cast<unsigned char>(b);
            const char input[2] = {static_cast<char>(a), static_cast<char>(b)};
            const char* cursor = input;
            const code_point c = utf8_codec::decode(cursor, input + 2);
            const int t = utf8_codec::trail_count(lead);
            if (t <= 0) {
                ASSERT_EQ(cursor - input, 1) << a << " " << b;
            } else if (!utf8_codec::is_continuation(next)) {
                ASSERT_EQ(c, invalid_input) << a << " " << b;
                ASSERT_EQ(cursor - input, 1) << "the breaking byte was consumed: " << a << " " << b;
            } else if (t == 1) {
                ASSERT_EQ(c, static_cast<code_point>(((a & 0x1F) << 6) | (b & 0x3F))) << a << " " << b;
                ASSERT_EQ(cursor - input, 2);
            } else {
                ASSERT_EQ(c, truncated_input) << a << " " << b;
                ASSERT_EQ(cursor, input + 2);
            }
        }
    }
}

}  // namespace
