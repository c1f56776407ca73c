# Cross-compiles for Windows x86-64 with Debian's clang++ and lld, against the
# mingw-w64 headers and the libstdc++ of the posix mingw-w64 GCC (the same
# runtime DLLs as the GCC build), and runs the test programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(wexal_mingw_root /usr/x86_64-w64-mingw32)
set(wexal_mingw_gcc /usr/lib/gcc/x86_64-w64-mingw32/12-posix)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_SYSROOT ${wexal_mingw_root})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# clang does not find this GCC's C++ headers by itself; std::thread and
# std::mutex need -pthread (winpthread).
set(CMAKE_CXX_FLAGS_INIT "-isystem ${wexal_mingw_gcc}/include/c++ -isystem ${wexal_mingw_gcc}/include/c++/x86_64-w64-mingw32 -isystem ${wexal_mingw_gcc}/include/c++/backward -pthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${wexal_mingw_gcc} -pthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -L${wexal_mingw_gcc} -pthread")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${wexal_mingw_gcc} -pthread")

set(CMAKE_FIND_ROOT_PATH ${wexal_mingw_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
