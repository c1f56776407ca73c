// Started by the argument tests. Writes args-report.txt, one string a line
// after its tag: its narrow argv ("n") and envp ("m"); under args its UTF-8 argv ("a"),
// envp ("e") and command_line_arguments() ("c"). Then "new": the allocations
// args made (seen on ELF only), "kept": args left the pointers, and
// "restored": nested objects put back exactly what each found.
#include <wexal/u8port/args.hpp>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#if defined(__MINGW32__)
int _dowildcard = -1;  // globbed, so the runtime's wide split must be asked to glob too
#endif

static unsigned allocations = 0;
void* operator new(std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n != 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

static std::FILE* report = std::fopen("args-report.txt", "wb");

static void print(const char* tag, char** strings) {
    for (; *strings != nullptr; ++strings) std::fprintf(report, "%s %s\n", tag, *strings);
}

int main(int argc, char** argv, char** envp) {
    const int narrow_argc = argc;
    char** const narrow[] = {argv, envp};
    print("n", argv);
    print("m", envp);
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
        char** const outer[] = {argv, envp};
        { wexal::u8port::args nested(argc, argv, envp); }
        restored = argv == outer[0] && envp == outer[1];
    }
    std::fprintf(report, "restored %d\n", restored && argc == narrow_argc && argv == narrow[0] && envp == narrow[1]);
}
