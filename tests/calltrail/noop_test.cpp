// The no-op backend through the shared library, as a front end calls it:
// every operation answers 0 or an empty string for any argument, and writes,
// opens and allocates nothing.
#include <wexal/calltrail/calltrail.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#endif

#include "support/counting_allocator.hpp"

namespace calltrail = wexal::calltrail;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t any_count = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t slots_size = 64;

// A pattern no backend would write: each slot holds its own odd address.
const void* pattern_at(std::size_t i) { return reinterpret_cast<const void*>(std::uintptr_t{0xA5A50001u} + 2 * i); }

struct slots {
    const void* at[slots_size];
    slots() {
        for (std::size_t i = 0; i < slots_size; ++i) at[i] = pattern_at(i);
    }
    bool unchanged() const {
        for (std::size_t i = 0; i < slots_size; ++i) {
            if (at[i] != pattern_at(i)) return false;
        }
        return true;
    }
};

// A directory of its own per test, removed afterwards.
class scratch_directory {
public:
    explicit scratch_directory(const std::string& name)
        : path_(fs::temp_directory_path() / ("wexal-calltrail-" + name)) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~scratch_directory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    bool empty() const { return fs::is_empty(path_); }

private:
    fs::path path_;
};

std::string utf8(const fs::path& p) {
    const auto s = p.u8string();
    return std::string(s.begin(), s.end());
}

const calltrail::frame sample_frames[] = {
    calltrail::frame(),
    calltrail::frame(nullptr),
    calltrail::frame(&sample_frames),
    calltrail::frame(reinterpret_cast<const void*>(std::numeric_limits<std::uintptr_t>::max())),
};
constexpr std::uint64_t sample_frames_size = sizeof(sample_frames) / sizeof(sample_frames[0]);

TEST(calltrail_noop, collect_returns_zero_and_writes_no_slot) {
    struct test_case {
        bool with_array;
        std::uint64_t max_frames;
        std::uint64_t skip;
    };
    const test_case cases[] = {
        {false, 0, 0},         {false, slots_size, 0}, {false, any_count, any_count},
        {true, 0, 0},          {true, 1, 0},           {true, slots_size, 0},
        {true, slots_size, 3}, {true, 1, any_count},   {true, slots_size, slots_size},
    };
    for (const test_case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "array " << c.with_array << ", max " << c.max_frames << ", skip " << c.skip);
        slots s;
        const void** out = c.with_array ? s.at : nullptr;
        EXPECT_EQ(calltrail::detail::this_thread_frames::collect(out, c.max_frames, c.skip), 0u);
        EXPECT_TRUE(s.unchanged());
    }
}

TEST(calltrail_noop, dump_to_a_named_file_creates_nothing) {
    const scratch_directory dir("dump-by-name");
    const slots frames;
    const std::string inside = utf8(dir.path()) + "/";
    const std::string names[] = {
        inside + "trace.txt",
        inside + "trac\xC3\xA9-\xF0\x9F\x98\x80.txt",  // tracé-😀.txt
        inside + "\xC3(bad-utf8.txt",
        inside + "missing/trace.txt",
        "calltrail-noop-trace.txt",  // in the working directory
    };
    fs::remove("calltrail-noop-trace.txt");  // left by an earlier, failed run
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        for (const void* const* array :
             {static_cast<const void* const*>(nullptr), static_cast<const void* const*>(frames.at)}) {
            for (std::uint64_t count : {std::uint64_t{0}, std::uint64_t{slots_size}}) {
                EXPECT_EQ(calltrail::detail::dump(name.c_str(), array, count), 0u);
            }
        }
    }
    EXPECT_FALSE(fs::exists("calltrail-noop-trace.txt"));
    EXPECT_EQ(calltrail::detail::dump(static_cast<const char*>(nullptr), frames.at, slots_size), 0u);
    EXPECT_EQ(calltrail::detail::dump(static_cast<const char*>(nullptr), nullptr, any_count), 0u);
    EXPECT_TRUE(dir.empty());
    EXPECT_TRUE(frames.unchanged());
}

TEST(calltrail_noop, dump_to_an_open_file_writes_nothing) {
    const scratch_directory dir("dump-to-handle");
    const fs::path path = dir.path() / "open.txt";
    std::FILE* f = std::fopen(utf8(path).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    // What the native-handle overload takes on each platform.
#if defined(_WIN32)
    void* native = reinterpret_cast<void*>(_get_osfhandle(_fileno(f)));
#else
    int descriptor = fileno(f);
    void* native = &descriptor;
#endif
    slots frames;
    slots target;  // an arbitrary object handed over as the file
    for (void* file : {static_cast<void*>(nullptr), native, static_cast<void*>(target.at)}) {
        for (const void* const* array :
             {static_cast<const void* const*>(nullptr), static_cast<const void* const*>(frames.at)}) {
            for (std::uint64_t count : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{slots_size}}) {
                EXPECT_EQ(calltrail::detail::dump(file, array, count), 0u);
            }
        }
    }
    EXPECT_EQ(calltrail::detail::dump(native, nullptr, any_count), 0u);
    ASSERT_EQ(std::fclose(f), 0);
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_TRUE(frames.unchanged());
    EXPECT_TRUE(target.unchanged());
}

TEST(calltrail_noop, every_frame_is_described_by_nothing) {
    for (const calltrail::frame& f : sample_frames) {
        SCOPED_TRACE(f.address());
        EXPECT_EQ(f.name(), "");
        EXPECT_EQ(f.source_file(), "");
        EXPECT_EQ(f.source_line(), 0u);
        EXPECT_EQ(calltrail::to_string(f), "");
    }
}

TEST(calltrail_noop, frame_arrays_are_described_by_nothing) {
    struct test_case {
        const calltrail::frame* frames;
        std::uint64_t count;
    };
    const test_case cases[] = {
        {nullptr, 0},           {nullptr, any_count}, {sample_frames, 1}, {sample_frames, sample_frames_size},
        {sample_frames + 2, 0},
    };
    for (const test_case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frames << ", " << c.count);
        EXPECT_EQ(calltrail::detail::to_string(c.frames, c.count), "");
    }
}

#if !defined(_WIN32)
// The counting operators replace the global ones in this program; a DLL's
// allocations go through its own runtime on Windows and are not seen there.
TEST(calltrail_noop, no_operation_allocates) {
    slots s;
    std::uint64_t numbers = 0;
    std::size_t lengths = 0;
    {
        const wexal::test::allocation_scope scope;
        numbers += calltrail::detail::this_thread_frames::collect(s.at, slots_size, 0);
        numbers += calltrail::detail::dump("trace.txt", s.at, slots_size);
        numbers += calltrail::detail::dump(static_cast<void*>(nullptr), s.at, slots_size);
        numbers += sample_frames[2].source_line();
        lengths += sample_frames[2].name().size();
        lengths += sample_frames[2].source_file().size();
        lengths += calltrail::to_string(sample_frames[2]).size();
        lengths += calltrail::detail::to_string(sample_frames, sample_frames_size).size();
        EXPECT_EQ(scope.allocations(), 0u);
    }
    EXPECT_EQ(numbers, 0u);
    EXPECT_EQ(lengths, 0u);
}
#endif

// Every operation from several threads at once, each on its own arrays.
TEST(calltrail_noop, operations_run_concurrently) {
    constexpr int threads_size = 8;
    constexpr int rounds = 2000;
    std::atomic<int> waiting{threads_size};
    std::atomic<long> wrong{0};
    std::atomic<long> calls{0};
    const scratch_directory dir("concurrent");
    const std::string name = utf8(dir.path() / "trace.txt");

    std::vector<std::thread> threads;
    for (int t = 0; t < threads_size; ++t) {
        threads.emplace_back([&] {
            slots s;
            const calltrail::frame own[] = {calltrail::frame(&s), calltrail::frame(s.at[1])};
            --waiting;
            while (waiting.load() > 0) std::this_thread::yield();
            long bad = 0;
            for (int r = 0; r < rounds; ++r) {
                const calltrail::frame& f = own[r % 2];
                bad += calltrail::detail::this_thread_frames::collect(s.at, slots_size, r) != 0;
                bad += calltrail::detail::dump(name.c_str(), s.at, slots_size) != 0;
                bad += calltrail::detail::dump(static_cast<void*>(s.at), s.at, slots_size) != 0;
                bad += !f.name().empty();
                bad += !f.source_file().empty();
                bad += f.source_line() != 0;
                bad += !calltrail::to_string(f).empty();
                bad += !calltrail::detail::to_string(own, 2).empty();
            }
            bad += !s.unchanged();
            wrong += bad;
            calls += 8L * rounds;
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(calls.load(), 8L * rounds * threads_size);
    EXPECT_TRUE(dir.empty());
}

}  // namespace
