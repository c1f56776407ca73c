// The console input buffer, reading scripted console input through the fake
// platform with random read sizes, peeks and put-backs. The script:
//
//   op & 7 == 0  queue a console read of (op >> 3) * 40 + byte units
//   op & 7 == 1  queue a failing console read
//   op & 7 == 2  queue a read cut short by Ctrl+C (no units, input goes on)
//   op & 7 == 3  take one byte (sbumpc)
//   op & 7 == 4  take (op >> 3) * 16 + byte bytes at once (sgetn)
//   op & 7 == 5  peek at the next byte (sgetc)
//   op & 7 == 6  put a byte back (sputbackc)
//   op & 7 == 7  step back over the byte just taken (sungetc)
//
// and at the end everything left is read. Whatever the read boundaries, the
// bytes delivered are the whole conversion of every unit the console gave,
// each CR LF as LF, but for a trailing lead surrogate still waiting for its
// partner and for the CR LF whose CR went out alone (it ended a read short of
// its capacity, or the input ended behind it); put-back bytes come out first,
// last one first, and are never lost; a peeked byte is the next one taken.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <wexal/u8port/utf.hpp>

#include "fuzz_check.hpp"
#include "fuzz_input.hpp"
#include "reference_conversion.hpp"
#include "support/fake_console.hpp"
#include "windows/console_buffers.hpp"

namespace {

using wexal::test::console_read;
using wexal::test::fake_console;
using wexal::u8port::wide_char;
using traits = std::char_traits<char>;

constexpr std::uint32_t error_operation_aborted = 995;

class input_run {
public:
    input_run() : buffer_(wexal::test::fake_handle(2)) {}

    void queue_read(std::vector<wide_char> units) {
        // Ctrl+Z at the start of a read ends the input there, dropping the
        // read; which read a unit starts depends on the buffer's capacities,
        // so the script keeps clear of it.
        for (wide_char& u : units) {
            if (u == 0x1A) u = 0x1B;
        }
        given_.insert(given_.end(), units.begin(), units.end());
        fake_console().reads.push_back(console_read{std::move(units), false, 0});
    }

    void queue_failure() { fake_console().reads.push_back(console_read{{}, true, 0}); }

    void queue_interrupted() {
        fake_console().reads.push_back(console_read{{}, false, error_operation_aborted});
        // The fake leaves the last error alone once its script is used up;
        // an empty read that clears it keeps the abort from repeating.
        fake_console().reads.push_back(console_read{{}, false, 0});
    }

    void take_one() { took(buffer_.sbumpc()); }

    void take_many(std::size_t n) {
        std::vector<char> out(n);
        const std::streamsize got = buffer_.sgetn(out.data(), static_cast<std::streamsize>(n));
        WEXAL_FUZZ_CHECK(got >= 0 && static_cast<std::size_t>(got) <= n);
        for (std::streamsize i = 0; i < got; ++i) took(traits::to_int_type(out[static_cast<std::size_t>(i)]));
        if (static_cast<std::size_t>(got) < n) took(traits::eof());
    }

    void peek() {
        const traits::int_type c = buffer_.sgetc();
        last_taken_.reset();
        if (c == traits::eof()) {
            WEXAL_FUZZ_CHECK(put_back_.empty());
            return;
        }
        if (!put_back_.empty()) WEXAL_FUZZ_CHECK(traits::to_char_type(c) == put_back_.back());
        peeked_ = traits::to_char_type(c);
    }

    void put_back(char byte) {
        WEXAL_FUZZ_CHECK(buffer_.sputbackc(byte) != traits::eof());
        put_back_.push_back(byte);
        peeked_.reset();
        last_taken_.reset();
    }

    void step_back() {
        if (!last_taken_) return;
        const traits::int_type c = buffer_.sungetc();
        WEXAL_FUZZ_CHECK(c != traits::eof());
        WEXAL_FUZZ_CHECK(traits::to_char_type(c) == *last_taken_);
        put_back_.push_back(*last_taken_);
        peeked_ = *last_taken_;
        last_taken_.reset();
    }

    void finish() {
        for (;;) {
            const traits::int_type c = buffer_.sbumpc();
            took(c);
            if (c == traits::eof() && fake_console().reads.empty()) break;
        }
        // Which CRs went out alone, from what each console read did.
        const auto& reads = fake_console().reads_made;
        std::vector<bool> alone(given_.size());
        for (std::size_t i = 0, at = 0; i < reads.size(); ++i) {
            at += reads[i].count;
            if (reads[i].count == 0 || given_[at - 1] != '\r') continue;
            bool went_alone = reads[i].count < fake_console().read_capacities[i];
            for (std::size_t j = i + 1; !went_alone && j < reads.size() && reads[j].count == 0; ++j) {
                went_alone = reads[j].failed || reads[j].last_error != error_operation_aborted;
            }
            alone[at - 1] = went_alone;
        }
        std::vector<wide_char> complete;
        for (std::size_t i = 0; i < given_.size(); ++i) {
            const bool joined = !alone[i] && given_[i] == '\r' && i + 1 < given_.size() && given_[i + 1] == '\n';
            if (!joined) complete.push_back(given_[i]);
        }
        // A lead surrogate at the very end is still waiting for its trail.
        if (!complete.empty() && complete.back() >= 0xD800 && complete.back() <= 0xDBFF) complete.pop_back();
        static const wide_char nothing = 0;
        const wide_char* const begin = complete.empty() ? &nothing : complete.data();
        const auto expected = wexal::fuzz::reference_convert<char>(begin, begin + complete.size()).units;
        WEXAL_FUZZ_CHECK(delivered_ == expected);
    }

private:
    void took(traits::int_type c) {
        if (c == traits::eof()) {
            // End of input never hides bytes that were put back or peeked.
            WEXAL_FUZZ_CHECK(put_back_.empty());
            WEXAL_FUZZ_CHECK(!peeked_);
            last_taken_.reset();
            return;
        }
        const char byte = traits::to_char_type(c);
        if (peeked_) WEXAL_FUZZ_CHECK(byte == *peeked_);
        peeked_.reset();
        if (!put_back_.empty()) {
            WEXAL_FUZZ_CHECK(byte == put_back_.back());
            put_back_.pop_back();
        } else {
            delivered_.push_back(byte);
        }
        last_taken_ = byte;
    }

    wexal::u8port::detail::console_input_buffer buffer_;
    std::vector<wide_char> given_;    // every unit the console delivers, in order
    std::vector<char> delivered_;     // the bytes taken that were not put back
    std::vector<char> put_back_;      // bytes put back and not yet taken again
    std::optional<char> peeked_;      // what the last peek saw, until a byte is taken
    std::optional<char> last_taken_;  // the byte just taken, for a step back
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wexal::test::reset_fake_platform();
    wexal::fuzz::fuzz_input input(data, size);
    input_run run;
    while (!input.empty()) {
        const unsigned op = input.byte();
        const unsigned parameter = op >> 3;
        switch (op & 7) {
        case 0: {
            const std::size_t n = parameter * 40 + input.byte();
            run.queue_read(input.units(n));
            break;
        }
        case 1:
            run.queue_failure();
            break;
        case 2:
            run.queue_interrupted();
            break;
        case 3:
            run.take_one();
            break;
        case 4:
            run.take_many(parameter * 16 + input.byte());
            break;
        case 5:
            run.peek();
            break;
        case 6:
            run.put_back(static_cast<char>(input.byte()));
            break;
        default:
            run.step_back();
            break;
        }
    }
    run.finish();
    return 0;
}
