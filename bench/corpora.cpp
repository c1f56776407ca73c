#include "corpora.hpp"

#include <wexal/u8port/utf.hpp>
#include "support/transcode_reference.hpp"

namespace wexal {
namespace bench {
namespace {

using u8port::code_point;

void append(std::string& s, code_point c) {
    char units[4];
    char* const end = u8port::utf8_codec::encode(c, units);
    s.append(units, end);
}

template <std::size_t N>
const char* pick(prng& random, const char* const (&words)[N]) {
    return words[random.below(static_cast<std::uint32_t>(N))];
}

// Cuts s to at most size bytes, at the start of a character.
void cut(std::string& s, std::size_t size) {
    if (s.size() <= size) return;
    while (size > 0 && u8port::utf8_codec::is_continuation(static_cast<unsigned char>(s[size]))) --size;
    s.resize(size);
}

const char* const english_words[] = {
    "the",     "of",      "and",      "to",     "in",      "is",       "was",      "that",    "for",    "it",
    "with",    "as",      "his",      "on",     "be",      "at",       "by",       "had",     "not",    "are",
    "but",     "from",    "or",       "have",   "an",      "they",     "which",    "one",     "you",    "were",
    "all",     "we",      "her",      "she",    "there",   "would",    "their",    "will",    "when",   "who",
    "him",     "been",    "has",      "more",   "if",      "no",       "out",      "so",      "said",   "what",
    "river",   "morning", "window",   "letter", "garden",  "station",  "quietly",  "however", "number", "winter",
    "library", "across",  "together", "under",  "evening", "mountain", "question", "people",  "little", "between",
};

// Plain and accented French words; the mix gives about 5% two-byte letters.
const char* const french_words[] = {
    "le",
    "la",
    "les",
    "de",
    "des",
    "du",
    "et",
    "un",
    "une",
    "il",
    "elle",
    "nous",
    "vous",
    "ils",
    "dans",
    "pour",
    "sur",
    "avec",
    "pas",
    "plus",
    "par",
    "qui",
    "que",
    "mais",
    "son",
    "sa",
    "ses",
    "au",
    "aux",
    "ce",
    "cette",
    "tout",
    "matin",
    "jardin",
    "maison",
    "soleil",
    "chemin",
    "temps",
    "main",
    "ville",
    "porte",
    "livre",
    "rue",
    "nuit",
    "pluie",
    "vent",
    "enfant",
    "monde",
    "toujours",
    "encore",
    "jamais",
    "souvent",
    "rivage",
    "parole",
    "histoire",
    "moment",
    "\xC3\xA9t\xC3\xA9",   // été
    "tr\xC3\xA8s",         // très
    "\xC3\xA0",            // à
    "o\xC3\xB9",           // où
    "d\xC3\xA9j\xC3\xA0",  // déjà
    ("fran\xC3\xA7"
     "ais"),                // français
    "gar\xC3\xA7on",        // garçon
    "fen\xC3\xAAtre",       // fenêtre
    "\xC3\xA9l\xC3\xA8ve",  // élève
    "ch\xC3\xA2teau",       // château
    "for\xC3\xAAt",         // forêt
    "h\xC3\xB4pital",       // hôpital
    "c\xC5\x93ur",          // cœur
    "\xC3\xAAtre",          // être
    "apr\xC3\xA8s",         // après
    "m\xC3\xA8re",          // mère
};

void append_prose(std::string& s, prng& random, const char* const* words, std::uint32_t count) {
    const std::uint32_t sentence_words = 6 + random.below(12);
    for (std::uint32_t i = 0; i < sentence_words; ++i) {
        std::string word = words[random.below(count)];
        if (i == 0 && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 'a' + 'A');
        s += word;
        if (i + 1 < sentence_words) s += random.chance(8) ? ", " : " ";
    }
    s += random.chance(10) ? ".\n" : ". ";
}

std::string ascii_text(std::size_t size, std::uint64_t seed) {
    prng random(seed);
    std::string s;
    while (s.size() < size + 64) append_prose(s, random, english_words, std::size(english_words));
    cut(s, size);
    return s;
}

std::string french_text(std::size_t size, std::uint64_t seed) {
    prng random(seed);
    std::string s;
    while (s.size() < size + 64) append_prose(s, random, french_words, std::size(french_words));
    cut(s, size);
    return s;
}

void append_ideographs(std::string& s, prng& random, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) append(s, 0x4E00u + random.below(0x5000u));
}

std::string cjk_text(std::size_t size, std::uint64_t seed) {
    prng random(seed);
    std::string s;
    while (s.size() < size + 64) {
        append_ideographs(s, random, 4 + random.below(16));
        if (random.chance(15)) {
            append(s, 0x3042u + random.below(0x50u));  // some hiragana
            append(s, 0x3042u + random.below(0x50u));
        }
        if (random.chance(5)) s += std::to_string(random.below(3000));
        append(s, random.chance(70) ? 0xFF0Cu : 0x3002u);  // full-width comma, ideographic full stop
        if (random.chance(10)) s += '\n';
    }
    cut(s, size);
    return s;
}

const char* const chat_users[] = {"anna", "kenji", "olga", "marc", "li", "sam"};
const char* const chat_words[] = {"ok", "lol", "see", "you", "soon", "haha", "yes", "no", "tonight", "party"};
const char* const cyrillic_words[] = {
    "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",          // привет
    "\xD0\xB4\xD0\xB0",                                          // да
    "\xD1\x81\xD0\xBF\xD0\xB0\xD1\x81\xD0\xB8\xD0\xB1\xD0\xBE",  // спасибо
};
const char* const greek_words[] = {
    "\xCE\xBD\xCE\xB1\xCE\xB9",          // ναι
    "\xCE\xB3\xCE\xB5\xCE\xB9\xCE\xB1",  // γεια
};

void append_emoji(std::string& s, prng& random) {
    static const code_point first[] = {0x1F600u, 0x1F300u, 0x1F900u, 0x1F680u};
    static const code_point count[] = {0x50u, 0x100u, 0x100u, 0x50u};
    const std::uint32_t block = random.below(4);
    append(s, first[block] + random.below(count[block]));
}

std::string emoji_text(std::size_t size, std::uint64_t seed) {
    prng random(seed);
    std::string s;
    while (s.size() < size + 64) {
        s += pick(random, chat_users);
        s += ": ";
        const std::uint32_t tokens = 2 + random.below(8);
        for (std::uint32_t i = 0; i < tokens; ++i) {
            const std::uint32_t r = random.below(100);
            if (r < 50) {
                for (std::uint32_t k = 1 + random.below(3); k != 0; --k) append_emoji(s, random);
            } else if (r < 74) {
                s += pick(random, chat_words);
            } else if (r < 82) {
                s += pick(random, cyrillic_words);
            } else if (r < 86) {
                s += pick(random, greek_words);
            } else {
                append_ideographs(s, random, 1 + random.below(3));
            }
            s += ' ';
        }
        s += '\n';
    }
    cut(s, size);
    return s;
}

std::string invalid_text(std::size_t size, std::uint64_t seed) {
    const std::string french = french_text(size, seed);
    prng random(seed ^ 0x5151u);
    std::string s;
    s.reserve(size);
    for (const char c : french) {
        if (s.size() >= size) break;
        if (random.chance(1)) s += static_cast<char>(0x80 + random.below(0x80));
        s += c;
    }
    if (s.size() > size) s.resize(size);
    return s;
}

const char* const name_pieces[] = {
    "report",
    "photo",
    "notes",
    "2024",
    "final",
    "v2",
    "_",
    "-",
    " ",
    "r\xC3\xA9sum\xC3\xA9",  // résumé
    ("\xC3\xBC"
     "bersicht"),                                        // übersicht
    "\xD0\xBF\xD0\xBB\xD0\xB0\xD0\xBD",                  // план
    "\xE5\x86\x99\xE7\x9C\x9F",                          // 写真
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB",  // ファイル
    "\xF0\x9F\x98\x80",                                  // U+1F600
    "\xF0\x9F\x93\x81",                                  // U+1F4C1
};
const char* const name_extensions[] = {".txt", ".jpg", ".docx", ".csv", ".png", ""};

std::string file_name(prng& random) {
    const std::size_t target = 10 + random.below(51);
    std::string name;
    while (name.size() + 5 < target) name += pick(random, name_pieces);
    name += pick(random, name_extensions);
    while (name.size() < 10) name += 'x';
    cut(name, 60);
    return name;
}

std::uint64_t seed_of(corpus_kind kind) { return 0x7E5A1000u + static_cast<std::uint64_t>(kind); }

}  // namespace

const char* corpus_name(corpus_kind kind) noexcept {
    switch (kind) {
    case corpus_kind::ascii:
        return "ascii";
    case corpus_kind::french:
        return "french";
    case corpus_kind::cjk:
        return "cjk";
    case corpus_kind::emoji:
        return "emoji";
    case corpus_kind::invalid:
        return "invalid";
    case corpus_kind::names:
        return "names";
    }
    return "?";
}

std::vector<std::string> make_file_names(std::size_t total_bytes) {
    prng random(seed_of(corpus_kind::names));
    std::vector<std::string> names;
    std::size_t total = 0;
    while (total < total_bytes) {
        names.push_back(file_name(random));
        total += names.back().size();
    }
    return names;
}

std::string make_corpus(corpus_kind kind, std::size_t size) {
    const std::uint64_t seed = seed_of(kind);
    switch (kind) {
    case corpus_kind::ascii:
        return ascii_text(size, seed);
    case corpus_kind::french:
        return french_text(size, seed);
    case corpus_kind::cjk:
        return cjk_text(size, seed);
    case corpus_kind::emoji:
        return emoji_text(size, seed);
    case corpus_kind::invalid:
        return invalid_text(size, seed);
    case corpus_kind::names: {
        std::string s;
        for (const std::string& name : make_file_names(size)) {
            if (s.size() + name.size() + 1 > size) break;
            s += name;
            s += '\n';
        }
        return s;
    }
    }
    return std::string();
}

wide_string to_utf16(const std::string& utf8) {
    wide_string out(utf8.size() + 1, u8port::wide_char(0));
    const char* const begin = utf8.data();
    u8port::detail::transcode_reference(&out[0], out.size(), begin, begin + utf8.size());
    out.resize(std::char_traits<u8port::wide_char>::length(out.data()));
    return out;
}

std::string to_utf8(const wide_string& utf16) {
    std::string out(utf16.size() * 3 + 1, '\0');
    const u8port::wide_char* const begin = utf16.data();
    u8port::detail::transcode_reference(&out[0], out.size(), begin, begin + utf16.size());
    out.resize(std::char_traits<char>::length(out.data()));
    return out;
}

wide_string make_utf16_corpus(corpus_kind kind, std::size_t utf8_size) {
    if (kind != corpus_kind::invalid) return to_utf16(make_corpus(kind, utf8_size));
    const wide_string french = to_utf16(make_corpus(corpus_kind::french, utf8_size));
    prng random(seed_of(kind) ^ 0xD800u);
    wide_string s;
    s.reserve(french.size() + french.size() / 50);
    for (const u8port::wide_char c : french) {
        if (random.chance(1)) {
            // A lone lead, a lone trail, or a trail before a lead.
            switch (random.below(3)) {
            case 0:
                s += u8port::wide_char(0xD800u + random.below(0x400u));
                break;
            case 1:
                s += u8port::wide_char(0xDC00u + random.below(0x400u));
                break;
            default:
                s += u8port::wide_char(0xDC00u + random.below(0x400u));
                s += u8port::wide_char(0xD800u + random.below(0x400u));
                break;
            }
        }
        s += c;
    }
    return s;
}

}  // namespace bench
}  // namespace wexal
