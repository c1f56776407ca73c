// The console output buffer fed by a script of writes, flushes, console
// failures and short console writes, read from the input:
//
//   op & 7 == 0  write the next (op >> 3) * 64 + byte bytes in one sputn
//   op & 7 == 1  write the next byte with sputc
//   op & 7 == 2  flush (pubsync)
//   op & 7 == 3  toggle: every console write fails / succeeds
//   op & 7 == 4  the console takes at most (op >> 3) % 8 units a call (0: all)
//   otherwise    write (op >> 3) bytes, one sputc each
//
// Whatever the chunking and the flush points, once a flush succeeds the
// console shows exactly the whole conversion of every byte the buffer
// accepted, but for a trailing incomplete sequence, which it keeps for
// later; a write refused by a failing console is offered again, once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <wexal/u8port/utf.hpp>

#include "fuzz_check.hpp"
#include "fuzz_input.hpp"
#include "reference_conversion.hpp"
#include "support/fake_console.hpp"
#include "well_formed.hpp"
#include "windows/console_buffers.hpp"

namespace {

using wexal::test::fake_console;
using wexal::u8port::wide_char;

// The bytes up to the start of a trailing incomplete sequence.
std::size_t complete_prefix(const std::vector<char>& bytes) {
    const char* cursor = bytes.data();
    const char* const end = cursor + bytes.size();
    for (;;) {
        const char* const before = cursor;
        if (wexal::u8port::utf8_codec::decode(cursor, end) == wexal::u8port::truncated_input) {
            return static_cast<std::size_t>(before - bytes.data());
        }
    }
}

class output_run {
public:
    output_run() : buffer_(wexal::test::fake_handle(1)) {}

    void write(const std::vector<char>& bytes) {
        const std::streamsize taken = buffer_.sputn(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        WEXAL_FUZZ_CHECK(taken >= 0 && static_cast<std::size_t>(taken) <= bytes.size());
        // Only a failing console refuses bytes.
        WEXAL_FUZZ_CHECK(fake_console().writes_fail || static_cast<std::size_t>(taken) == bytes.size());
        accepted_.insert(accepted_.end(), bytes.begin(), bytes.begin() + taken);
    }

    void put(char byte) {
        const auto result = buffer_.sputc(byte);
        if (result == std::char_traits<char>::eof()) {
            WEXAL_FUZZ_CHECK(fake_console().writes_fail);
            return;
        }
        // The byte itself when it went straight into the put area, 0 when
        // storing it took a write to the console first.
        WEXAL_FUZZ_CHECK(result == std::char_traits<char>::to_int_type(byte) || result == 0);
        accepted_.push_back(byte);
    }

    void flush() {
        const std::size_t shown = fake_console().screen.size();
        const int result = buffer_.pubsync();
        if (fake_console().writes_fail) {
            WEXAL_FUZZ_CHECK(fake_console().screen.size() == shown);
            WEXAL_FUZZ_CHECK(result == 0 || result == -1);
            return;
        }
        WEXAL_FUZZ_CHECK(result == 0);
        check_screen();
    }

    // Everything but a trailing incomplete sequence has reached the console.
    void check_screen() const {
        std::vector<char> complete(accepted_.begin(),
                                   accepted_.begin() + static_cast<std::ptrdiff_t>(complete_prefix(accepted_)));
        static const char nothing = 0;
        const char* const begin = complete.empty() ? &nothing : complete.data();
        const auto expected = wexal::fuzz::reference_convert<wide_char>(begin, begin + complete.size()).units;
        const auto& screen = fake_console().screen;
        WEXAL_FUZZ_CHECK(screen.size() == expected.size());
        WEXAL_FUZZ_CHECK(std::equal(expected.begin(), expected.end(), screen.begin()));
    }

    void finish() {
        fake_console().writes_fail = false;
        flush();
        // While the console takes whole writes, no write splits a pair.
        if (!short_writes_seen_) {
            for (const auto& w : fake_console().writes) {
                if (!w.succeeded) continue;
                WEXAL_FUZZ_CHECK(wexal::fuzz::is_well_formed_utf16(w.units.data(), w.units.data() + w.units.size()));
            }
        }
    }

    void note_short_writes() { short_writes_seen_ = true; }

private:
    wexal::u8port::detail::console_output_buffer buffer_;
    std::vector<char> accepted_;
    bool short_writes_seen_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wexal::test::reset_fake_platform();
    wexal::fuzz::fuzz_input input(data, size);
    output_run run;
    while (!input.empty()) {
        const unsigned op = input.byte();
        const unsigned parameter = op >> 3;
        switch (op & 7) {
        case 0: {
            const std::size_t n = parameter * 64 + input.byte();
            run.write(input.bytes(n));
            break;
        }
        case 1:
            run.put(static_cast<char>(input.byte()));
            break;
        case 2:
            run.flush();
            break;
        case 3:
            fake_console().writes_fail = !fake_console().writes_fail;
            break;
        case 4:
            if (parameter % 8 == 0) {
                fake_console().max_units_written.reset();
            } else {
                fake_console().max_units_written = parameter % 8;
                run.note_short_writes();
            }
            break;
        default:
            for (unsigned i = 0; i < parameter && !input.empty(); ++i) run.put(static_cast<char>(input.byte()));
            break;
        }
    }
    run.finish();
    return 0;
}
