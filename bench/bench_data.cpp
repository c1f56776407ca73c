#include "bench_data.hpp"

#include <map>

#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace bench {

const corpus_text& text_of(corpus_kind kind) {
    static std::map<corpus_kind, corpus_text> texts;
    const auto found = texts.find(kind);
    if (found != texts.end()) return found->second;
    corpus_text& text = texts[kind];
    text.utf8 = make_corpus(kind, corpus_size);
    text.utf16 = make_utf16_corpus(kind, corpus_size);
    if (kind == corpus_kind::names) {
        text.names = make_file_names(corpus_size);
        for (const std::string& name : text.names) text.wide_names.push_back(to_utf16(name));
    }
    return text;
}

std::string utf8_prefix(const std::string& s, std::size_t size) {
    if (size >= s.size()) return s;
    while (size > 0 && u8port::utf8_codec::is_continuation(static_cast<unsigned char>(s[size]))) --size;
    return s.substr(0, size);
}

wide_string utf16_prefix(const wide_string& s, std::size_t size) {
    std::size_t units = size / sizeof(s[0]);
    if (units >= s.size()) return s;
    const auto is_lead = [](u8port::wide_char u) { return u >= 0xD800 && u <= 0xDBFF; };
    if (units > 0 && is_lead(s[units - 1])) --units;
    return s.substr(0, units);
}

}  // namespace bench
}  // namespace wexal
