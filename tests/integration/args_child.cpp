// Started by the argument tests. Prints, one string a line in hex: its narrow
// argv ("n") and envp ("m"); under args its UTF-8 argv ("a"), envp ("e") and
// command_line_arguments() ("c"); then "new": the allocations args made here
// (seen on ELF only), "kept": args left the pointers, and "restored": nested
// objects put back exactly what each found.
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

static void print(const char* tag, char** strings) {
    for (; *strings != nullptr; ++strings) {
        std::printf("%s ", tag);
        for (const char* s = *strings; *s != 0; ++s) std::printf("%02x", static_cast<unsigned char>(*s));
        std::printf("\n");
    }
}

int main(int argc, char** argv, char** envp) {
    const int narrow_argc = argc;
    char** const narrow[] = {argv, envp};
    print("n", argv);
    print("m", envp);
    bool restored = true;
    {
        const unsigned before = allocations;
        wexal::u8port::args utf8(argc, argv, envp);
        std::printf("new %u\nkept %d\n", allocations - before, argv == narrow[0] && envp == narrow[1]);
        std::printf("argc %d\n", argc);
        print("a", argv);
        print("e", envp);
        std::vector<std::string> arguments = wexal::u8port::command_line_arguments();
        std::vector<char*> c;
        for (auto& s : arguments) c.push_back(&s[0]);
        c.push_back(nullptr);
        print("c", c.data());
        char** const outer[] = {argv, envp};
        {
            wexal::u8port::args nested(argc, argv, envp);
            restored = argv != nullptr && argv[argc] == nullptr;
        }
        restored = restored && argv == outer[0] && envp == outer[1];
    }
    std::printf("restored %d\n", restored && argc == narrow_argc && argv == narrow[0] && envp == narrow[1]);
}
