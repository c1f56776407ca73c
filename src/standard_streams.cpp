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
// <iostream> comes first so that std::cout, std::cerr and std::cin, whose
// buffers the objects may borrow, are constructed before them. Unit tests link
// the static build, where this unit is pulled in only by a reference to one of
// the objects; the tests build their own streams against the fake platform.
#include <iostream>

#include <wexal/u8port/iostream.hpp>

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

detail::winconsole_ostream cout(1, nullptr);
detail::winconsole_istream cin(&cout);
detail::winconsole_ostream cerr(2, &cout);
namespace {
[[maybe_unused]] const bool cerr_unit_buffered = make_unit_buffered(cerr);
}  // namespace
detail::winconsole_ostream clog(2, &cout);

}  // namespace u8port
}  // namespace wexal
