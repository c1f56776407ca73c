// The assertion the fuzz targets check their properties with. Unlike
// assert() it stays active in every build, and it aborts, which libFuzzer
// and the replay program both report as a failure with the input kept.
#ifndef WEXAL_FUZZ_FUZZ_CHECK_HPP
#define WEXAL_FUZZ_FUZZ_CHECK_HPP

#include <cstdio>
#include <cstdlib>

#define WEXAL_FUZZ_CHECK(condition)                                                                 \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (false)

#endif  // WEXAL_FUZZ_FUZZ_CHECK_HPP
