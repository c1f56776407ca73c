// widen and narrow, default and lossless (WTF-8), in one pass through the
// library's kernels; and the widener and narrower, which convert text that
// arrives in pieces with the engine's carry step.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <wexal/u8port/convert.hpp>

#include "surrogate_forms.hpp"
#include "transcode/carry.hpp"
#include "transcode/kernels.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace {

// Adds converted text to a string in one pass: the kernels convert into a
// small buffer, which is appended a buffer at a time. Before the first such
// append the string reserves what the rest will likely take, from the ratio
// of output to input so far (a little more, never more than the worst case),
// so that a long text is allocated once and copied no more than a
// conversion into a buffer of known size writes it: there the buffer is
// filled first, here the small buffer stays in the cache. Text that fits the
// small buffer becomes a string of exactly its size.
template <typename Out>
class string_sink {
public:
    // input_size: the input units that this sink will convert in all.
    string_sink(std::basic_string<Out>& s, std::size_t input_size) noexcept : s_(s), left_(input_size) {}

    string_sink(const string_sink&) = delete;
    string_sink& operator=(const string_sink&) = delete;

    template <typename In>
    void convert(const In* begin, const In* end) {
        for (;;) {
            const transcode_result<Out, In> r = transcode(buffer_ + used_, buffer_size - used_, begin, end);
            used_ = static_cast<std::size_t>(r.out - buffer_);
            left_ -= static_cast<std::size_t>(r.in - begin);
            consumed_ += static_cast<std::size_t>(r.in - begin);
            if (r.complete) return;
            begin = r.in;
            flush();
        }
    }

    // Adds units made outside the kernels (up to 3), for input_taken units.
    void put(const Out* units, std::size_t n, std::size_t input_taken) {
        if (buffer_size - used_ < n) flush();
        std::memcpy(buffer_ + used_, units, n * sizeof(Out));
        used_ += n;
        left_ -= input_taken;
        consumed_ += input_taken;
    }

    // Adds what is left in the small buffer.
    void finish() {
        if (!reserved_ && s_.empty()) {
            // Made at its size, not appended: appending rounds a short capacity up.
            if (used_ != 0) s_ = std::basic_string<Out>(buffer_, used_);
        } else {
            s_.append(buffer_, used_);
        }
        used_ = 0;
    }

private:
    static constexpr std::size_t buffer_size = 8192 / sizeof(Out);
    // Output units one input unit can give at most: three bytes of UTF-8 for
    // a UTF-16 unit, one UTF-16 unit for a byte.
    static constexpr std::size_t max_growth = sizeof(Out) == 1 ? 3 : 1;

    void flush() {
        if (!reserved_) {
            reserved_ = true;
            // The ratio so far, and a thirty-second more.
            const double ratio = consumed_ == 0 ? 1.0 : static_cast<double>(used_) / static_cast<double>(consumed_);
            const double likely = ratio * static_cast<double>(left_) * (33.0 / 32.0) + 64.0;
            const std::size_t worst = left_ * max_growth;
            const std::size_t rest = likely < static_cast<double>(worst) ? static_cast<std::size_t>(likely) : worst;
            s_.reserve(s_.size() + used_ + rest);
        }
        s_.append(buffer_, used_);
        used_ = 0;
    }

    std::basic_string<Out>& s_;
    std::size_t left_;
    std::size_t consumed_ = 0;
    std::size_t used_ = 0;
    bool reserved_ = false;
    Out buffer_[buffer_size];
};

// At most a sixteenth of spare room: more, when the likely size was far off,
// is given back.
template <typename Out>
std::basic_string<Out> trimmed(std::basic_string<Out> s) {
    if (s.capacity() - s.size() > s.size() / 16 + 16) s.shrink_to_fit();
    return s;
}

wide_char surrogate_of_form(const char* p) noexcept {
    return static_cast<wide_char>(0xD000u | ((static_cast<unsigned char>(p[1]) & 0x3Fu) << 6) |
                                  (static_cast<unsigned char>(p[2]) & 0x3Fu));
}

void put_form_of_surrogate(string_sink<char>& sink, wide_char unit, std::size_t input_taken) {
    const unsigned u = static_cast<std::uint16_t>(unit);
    const char form[3] = {static_cast<char>(0xEDu), static_cast<char>(0x80u | ((u >> 6) & 0x3Fu)),
                          static_cast<char>(0x80u | (u & 0x3Fu))};
    sink.put(form, 3, input_taken);
}

// [begin, end) into the sink: in the lossless forms, the stretches between
// the surrogates (or their 3-byte forms) through the kernels and each of
// those on its own. Cutting there changes nothing for the stretches, since
// each cut falls where a sequence begins anyway.
void convert_utf8(string_sink<wide_char>& sink, const char* begin, const char* end, bool lossless) {
    if (!lossless) return sink.convert(begin, end);
    for (const char* p = begin;;) {
        const char* const form = find_surrogate_form(p, end);
        sink.convert(p, form);
        if (form == end) return;
        const wide_char unit = surrogate_of_form(form);
        sink.put(&unit, 1, 3);
        p = form + 3;
    }
}

void convert_utf16(string_sink<char>& sink, const wide_char* begin, const wide_char* end, bool lossless) {
    if (!lossless) return sink.convert(begin, end);
    for (const wide_char* p = begin;;) {
        const wide_char* const lone = find_unpaired_surrogate(p, end);
        sink.convert(p, lone);
        if (lone == end) return;
        put_form_of_surrogate(sink, *lone, 1);
        p = lone + 1;
    }
}

// A short text (a name) goes through a buffer on the stack of the size the
// worst case needs.
constexpr std::size_t short_text = 128;
template <typename Out, typename In>
std::basic_string<Out> convert_short(const In* begin, const In* end) {
    Out buffer[short_text * (sizeof(Out) == 1 ? 3 : 1)];
    return std::basic_string<Out>(buffer, transcode(buffer, sizeof buffer / sizeof(Out), begin, end).out);
}

wide_string widen_whole(std::string_view utf8, bool lossless) {
    if (!lossless && utf8.size() <= short_text) return convert_short<wide_char>(utf8.data(), utf8.data() + utf8.size());
    wide_string result;
    string_sink<wide_char> sink(result, utf8.size());
    convert_utf8(sink, utf8.data(), utf8.data() + utf8.size(), lossless);
    sink.finish();
    return trimmed(std::move(result));
}

std::string narrow_whole(wide_string_view utf16, bool lossless) {
    if (!lossless && utf16.size() <= short_text) return convert_short<char>(utf16.data(), utf16.data() + utf16.size());
    std::string result;
    string_sink<char> sink(result, utf16.size());
    convert_utf16(sink, utf16.data(), utf16.data() + utf16.size(), lossless);
    sink.finish();
    return trimmed(std::move(result));
}

}  // namespace
}  // namespace detail

wide_string widen(std::string_view utf8) { return detail::widen_whole(utf8, false); }
std::string narrow(wide_string_view utf16) { return detail::narrow_whole(utf16, false); }
wide_string widen(std::string_view wtf8, lossless_t) { return detail::widen_whole(wtf8, true); }
std::string narrow(wide_string_view utf16, lossless_t) { return detail::narrow_whole(utf16, true); }

void widener::append(std::string_view piece, wide_string& out) {
    const char* p = piece.data();
    const char* const end = p + piece.size();
    detail::string_sink<wide_char> sink(out, piece.size());
    if (held_size_ != 0) {
        // The sequence the last piece cut short, completed by this one's first bytes.
        const detail::completion done = detail::complete_held(held_, held_size_, p, end);
        p += done.taken;
        if (done.code == truncated_input) return;
        wide_char units[2];
        if (done.code == invalid_input && lossless_ && detail::is_surrogate_form(held_, held_size_)) {
            units[0] = detail::surrogate_of_form(held_);
            sink.put(units, 1, done.taken);
        } else {
            const code_point c = done.code == invalid_input ? replacement_code_point : done.code;
            sink.put(units, static_cast<std::size_t>(utf16_codec::encode(c, units) - units), done.taken);
        }
        held_size_ = 0;
    }
    const std::size_t tail = detail::incomplete_tail(p, end);
    detail::convert_utf8(sink, p, end - tail, lossless_);
    sink.finish();
    std::memcpy(held_, end - tail, tail);
    held_size_ = tail;
}

void widener::finish(wide_string& out) {
    if (held_size_ != 0) out += static_cast<wide_char>(replacement_code_point);
    held_size_ = 0;
}

void narrower::append(wide_string_view piece, std::string& out) {
    const wide_char* p = piece.data();
    const wide_char* const end = p + piece.size();
    detail::string_sink<char> sink(out, piece.size());
    if (held_size_ != 0) {
        // A high surrogate that ended the last piece, and this one's first unit.
        const detail::completion done = detail::complete_held(held_, held_size_, p, end);
        p += done.taken;
        if (done.code == truncated_input) return;
        if (done.code == invalid_input && lossless_) {
            detail::put_form_of_surrogate(sink, held_[0], done.taken);
        } else {
            char bytes[4];
            const code_point c = done.code == invalid_input ? replacement_code_point : done.code;
            sink.put(bytes, static_cast<std::size_t>(utf8_codec::encode(c, bytes) - bytes), done.taken);
        }
        held_size_ = 0;
    }
    const std::size_t tail = detail::incomplete_tail(p, end);
    detail::convert_utf16(sink, p, end - tail, lossless_);
    sink.finish();
    if (tail != 0) held_[0] = end[-1];
    held_size_ = tail;
}

void narrower::finish(std::string& out) {
    if (held_size_ != 0) {
        if (lossless_) {
            const unsigned u = static_cast<std::uint16_t>(held_[0]);
            out += static_cast<char>(0xEDu);
            out += static_cast<char>(0x80u | ((u >> 6) & 0x3Fu));
            out += static_cast<char>(0x80u | (u & 0x3Fu));
        } else {
            out += "\xEF\xBF\xBD";
        }
    }
    held_size_ = 0;
}

}  // namespace u8port
}  // namespace wexal
