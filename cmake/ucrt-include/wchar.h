/* The C runtime's <wchar.h> for a UCRT build with a libstdc++ built for
   msvcrt. Under _UCRT mingw-w64 makes mbstate_t an 8-byte struct, while the
   prebuilt libstdc++ was compiled with a 4-byte int: std::fpos, std::filebuf
   (192 against 208 bytes) and every name mangled with mbstate_t would differ
   between the program and the library, and the file streams would write past
   their objects. So mbstate_t stays the int the library was built with; the
   runtime's own conversion calls (mbrtowc, wcrtomb, ...) keep the runtime's
   8-byte state type, so a program that hands them an int state does not
   compile instead of having 4 bytes beyond it overwritten. */
#ifndef WEXAL_UCRT_WCHAR_H
#define WEXAL_UCRT_WCHAR_H

#define mbstate_t wexal_ucrt_mbstate
#define mbsinit wexal_ucrt_mbsinit
#include_next <wchar.h>
#undef mbsinit
#undef mbstate_t

typedef int mbstate_t;
static __inline int mbsinit(const mbstate_t* state) { return !state || *state == 0; }

#endif
