// Output after the streams' last counter object is gone: this unit does not
// include the streams' header, and its object is built first, so destroyed
// last, after the exit handler and the function-local static it sets up.
#include <cstdlib>

void write_late(const char* line);

namespace {
struct local_static_writer {
    ~local_static_writer() { write_late("local static"); }
};
struct global_writer {
    global_writer() {
        std::atexit([] { write_late("exit handler"); });
        static local_static_writer local;
    }
    ~global_writer() { write_late("global destructor"); }
};
#if defined(__GNUC__)
__attribute__((init_priority(101)))
#endif
global_writer writer;
}  // namespace
