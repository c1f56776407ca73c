// Started by the argument tests. Writes args-report.txt, one string a line
// after its tag: its narrow argv ("n") and envp ("m"); under args its UTF-8 argv ("a"),
// envp ("e") and command_line_arguments() ("c"). Then "new": the allocations
// args made (seen on ELF only), "kept": args left the pointers, and
// "restored": nested objects put back exactly what each found. "d": what a library gets, "s": args on
// argv + 1, "other": args left an array not main's alone, "newmode": the new mode set before args.
//
// With "--mode" first it writes no report and plays a child for the process
// tests instead (streams in binary): "out" writes each later argument to
// stdout ("1:text", "1x" and hex bytes) or stderr ("2..."), flushed one by one;
// "flood N" writes N bytes to each of stdout and stderr at once; "echo"
// copies stdin to stdout; "sleep MS"; "open N" exits 1 if descriptor N is
// open (Linux), else 0; "places" writes executable_path, temp_directory and
// home_directory, a line each.
#include <wexal/u8port/args.hpp>
#include <wexal/u8port/cstdlib.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#if defined(__MINGW32__)
int _dowildcard = -1;  // globbed, so the runtime's wide split must be asked to glob too
#endif
#if defined(_UCRT)
// The UCRT has the new-mode calls under their C names.
extern "C" int __cdecl _set_new_mode(int);
extern "C" int __cdecl _query_new_mode();
static void set_new_mode(int mode) { _set_new_mode(mode); }
static int query_new_mode() { return _query_new_mode(); }
#elif defined(_WIN32)
#include <windows.h>
// msvcrt.dll has them under their C++ names only.
template <typename Call>
static Call msvcrt_call(const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), name)));
}
static void set_new_mode(int mode) { msvcrt_call<int (*)(int)>("?_set_new_mode@@YAHH@Z")(mode); }
static int query_new_mode() { return msvcrt_call<int (*)()>("?_query_new_mode@@YAHXZ")(); }
#else
static void set_new_mode(int) {}
static int query_new_mode() { return -1; }
#endif
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
static bool is_open(unsigned long long) { return false; }  // Windows: the file test instead
#else
#include <fcntl.h>
static bool is_open(unsigned long long n) { return fcntl(static_cast<int>(n), F_GETFD) != -1; }
#endif

static int play(int argc, char** argv) {
#if defined(_WIN32)
    for (std::FILE* stream : {stdin, stdout, stderr}) _setmode(_fileno(stream), _O_BINARY);
#endif
    wexal::u8port::args utf8(argc, argv);
    const std::string mode = argv[2];
    const unsigned long long n = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 0;
    if (mode == "out") {
        for (int i = 3; i < argc; ++i) {
            std::FILE* stream = argv[i][0] == '2' ? stderr : stdout;
            std::string bytes = argv[i] + 2;
            if (argv[i][1] == 'x') {
                bytes.clear();
                for (const char* h = argv[i] + 2; h[0] && h[1]; h += 2)
                    bytes += char(std::stoi(std::string(h, 2), nullptr, 16));
            }
            std::fwrite(bytes.data(), 1, bytes.size(), stream);
            std::fflush(stream);
        }
    } else if (mode == "flood") {
        std::string out(4096, 0), err(4096, 0);
        for (unsigned long long i = 0; i < n; i += out.size()) {
            for (std::size_t k = 0; k < out.size(); ++k) {
                out[k] = static_cast<char>('a' + (i + k) % 26);
                err[k] = static_cast<char>('A' + (i + k) % 26);
            }
            const std::size_t size = static_cast<std::size_t>(std::min<unsigned long long>(out.size(), n - i));
            std::fwrite(out.data(), 1, size, stdout);
            std::fwrite(err.data(), 1, size, stderr);
        }
    } else if (mode == "echo") {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) != 0;)
            std::fwrite(buffer, 1, got, stdout);
    } else if (mode == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(n));
    } else if (mode == "open") {
        return is_open(n) ? 1 : 0;
    } else if (mode == "places") {
        namespace u8 = wexal::u8port;
        std::printf("%s\n%s\n%s\n", u8::executable_path().c_str(), u8::temp_directory().c_str(),
                    u8::home_directory().c_str());
    }
    return 0;
}
void report_module_arguments(std::FILE* report);

static unsigned allocations = 0;
void* operator new(std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n != 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

static std::FILE* report = nullptr;

static void print(const char* tag, char** strings) {
    for (; *strings != nullptr; ++strings) std::fprintf(report, "%s %s\n", tag, *strings);
}

int main(int argc, char** argv, char** envp) {
    if (argc > 2 && std::strcmp(argv[1], "--mode") == 0) return play(argc, argv);
    report = std::fopen("args-report.txt", "wb");
    const int narrow_argc = argc;
    char** const narrow[] = {argv, envp};
    print("n", argv);
    print("m", envp);
    set_new_mode(1);
    char other_arg[] = "other";
    char* other[] = {other_arg, nullptr};
    int n[] = {argc - 1, 1};
    char** v[] = {argv + 1, other};
    wexal::u8port::args shifted(n[0], v[0]), not_mains(n[1], v[1]);
    print("s", v[0]);
    std::fprintf(report, "other %d\n", n[1] == 1 && v[1] == other);
    bool restored = false;
    {
        const unsigned before = allocations;
        wexal::u8port::args utf8(argc, argv, envp);
        std::fprintf(report, "new %u\nkept %d\nargc %d\n", allocations - before, argv == narrow[0] && envp == narrow[1],
                     argc);
        print("a", argv);
        print("e", envp);
        std::vector<std::string> arguments = wexal::u8port::command_line_arguments();
        std::vector<char*> c;
        for (auto& s : arguments) c.push_back(&s[0]);
        c.push_back(nullptr);
        print("c", c.data());
        report_module_arguments(report);
        std::fprintf(report, "newmode %d\n", query_new_mode());
        char** const outer[] = {argv, envp};
        { wexal::u8port::args nested(argc, argv, envp); }
        restored = argv == outer[0] && envp == outer[1];
    }
    std::fprintf(report, "restored %d\n", restored && argc == narrow_argc && argv == narrow[0] && envp == narrow[1]);
    // Out now: without /proc the sanitizer build's leak check dies at exit.
    std::fflush(report);
}
