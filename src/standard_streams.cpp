// The four standard stream objects.
//
// They live in a translation unit of their own: dynamic initialisation within
// one unit runs in definition order, and each object's destruction is put on
// the library's own exit list right after the object is constructed. So the
// order below is the construction order (cout, cin, cerr, clog), the reverse
// is the order of destruction at unload, and cout, to which the others are
// tied, outlives them while they flush. (Checked for the ELF shared library
// and the mingw-w64 DLL alike: both run the list at dlclose / FreeLibrary and
// at process exit.) Anything created later on first use, such as getenv's
// result holder, is destroyed before the streams.
//
// <iostream> comes first so that std::cout, std::cerr and std::cin, which the
// objects may write and read through, are constructed before them. A static
// build builds the objects on first use of the header instead (see
// iostream.hpp).
#include <iostream>
#include <new>

#include <wexal/u8port/iostream.hpp>

#include "standard_streams.hpp"

namespace wexal {
namespace u8port {
namespace {

// Like std::cerr, cerr flushes after every output operation, so a diagnostic
// shows at once and survives a crash that follows it.
bool make_unit_buffered(std::ostream& s) {
    s.setf(std::ios_base::unitbuf);
    return true;
}

}  // namespace

#if defined(WEXAL_U8PORT_STATIC)
namespace {

// Room for one object, constant-initialised (so it is there before any
// dynamic initialisation) and constructed and destroyed by hand.
template <class T>
union storage {
    constexpr storage() noexcept : unused_() {}
    ~storage() {}
    char unused_;
    T object;
};

// The standard streams that ours may go through are kept alive as long.
storage<std::ios_base::Init> standard_init;
storage<detail::winconsole_ostream> cout_storage;
storage<detail::winconsole_istream> cin_storage;
storage<detail::winconsole_ostream> cerr_storage;
storage<detail::winconsole_ostream> clog_storage;
int init_count = 0;
bool constructed = false;
bool finished = false;

}  // namespace

detail::winconsole_ostream& cout = cout_storage.object;
detail::winconsole_istream& cin = cin_storage.object;
detail::winconsole_ostream& cerr = cerr_storage.object;
detail::winconsole_ostream& clog = clog_storage.object;

namespace detail {

// Built in the same order as the shared library's objects by the first
// counter object. The last one flushes what is pending and makes cout and
// clog write out after every operation, as cerr does; the objects are never
// destroyed, like the standard library's, so that a destructor or exit
// handler that runs later (in a unit without a counter, a function-local
// static, an atexit handler) still reaches the console or file.
standard_streams_init::standard_streams_init() {
    if (init_count++ != 0 || constructed) return;
    new (&standard_init.object) std::ios_base::Init();
    new (&cout_storage.object) winconsole_ostream(1, nullptr);
    tie_standard_input(cout);
    new (&cin_storage.object) winconsole_istream(&cout);
    new (&cerr_storage.object) winconsole_ostream(2, &cout);
    make_unit_buffered(cerr);
    new (&clog_storage.object) winconsole_ostream(2, &cout);
    constructed = true;
}

standard_streams_init::~standard_streams_init() {
    if (--init_count != 0 || !constructed || finished) return;
    finished = true;
    flush_standard_streams();
    make_unit_buffered(cout);
    make_unit_buffered(clog);
    // Flushes the standard streams that ours may go through; they stay
    // usable too (the standard library never destroys them).
    standard_init.object.~Init();
}

void flush_standard_streams() noexcept {
    if (!constructed) return;
    try {
        cout.flush();
        clog.flush();
    } catch (...) {}
}

}  // namespace detail
#else
detail::winconsole_ostream cout(1, nullptr);
namespace {
[[maybe_unused]] const bool std_cin_tied = (detail::tie_standard_input(cout), true);
}  // namespace
detail::winconsole_istream cin(&cout);
detail::winconsole_ostream cerr(2, &cout);
namespace {
[[maybe_unused]] const bool cerr_unit_buffered = make_unit_buffered(cerr);
}  // namespace
detail::winconsole_ostream clog(2, &cout);

namespace {

// Set from the moment all four exist until the first is destroyed, when the
// library is unloaded (at exit, after every module that links it is done).
bool streams_alive = false;
struct alive_while_the_streams_are {
    alive_while_the_streams_are() noexcept { streams_alive = true; }
    ~alive_while_the_streams_are() { streams_alive = false; }
};
// Defined after clog: destroyed before any of the four.
const alive_while_the_streams_are alive_marker;

}  // namespace

namespace detail {

void flush_standard_streams() noexcept {
    if (!streams_alive) return;
    try {
        cout.flush();
        clog.flush();
    } catch (...) {}
}

}  // namespace detail
#endif

}  // namespace u8port
}  // namespace wexal
