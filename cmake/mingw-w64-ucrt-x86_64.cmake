# Cross-compiles for Windows x86-64 against the Universal C runtime
# (ucrtbase.dll, api-ms-win-crt-*.dll) with the same mingw-w64 GCC as
# mingw-w64-x86_64.cmake, and runs the test programs under Wine.
#
# Debian's GCC and libstdc++ are built for msvcrt.dll; mingw-w64 ships the
# UCRT's import library (libucrt.a) beside it. So:
#  - a file of driver settings (made below from the ones the compiler dumps)
#    links -lucrt instead of -lmsvcrt and defines _UCRT for C and C++ (g++
#    takes no *cpp entry);
#  - ucrt-include/wchar.h keeps mbstate_t the int libstdc++ was built with;
#  - every program and DLL links the C++ runtime, libgcc and winpthread
#    statically: their DLLs import msvcrt.dll, and two C runtimes in one
#    process do not share FILE objects, the heap or errno. Each module then
#    holds its own copy of libstdc++ (a DLL's std::cout is not the program's);
#  - the static winpthread calls _setjmp, which only msvcrt has: the UCRT's
#    __intrinsic_setjmpex takes the same arguments.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

if(NOT EXISTS ${CMAKE_FIND_ROOT_PATH}/lib/libucrt.a)
    message(FATAL_ERROR "no ${CMAKE_FIND_ROOT_PATH}/lib/libucrt.a: mingw-w64 10 or later (Debian's mingw-w64-x86-64-dev) has it")
endif()

# Made anew at each configure (try_compile projects too), written only when it changes.
set(wexal_ucrt_driver ${CMAKE_BINARY_DIR}/wexal-ucrt-driver.txt)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpspecs OUTPUT_VARIABLE wexal_dumped RESULT_VARIABLE wexal_status)
string(REGEX MATCH "\\*libgcc:\n[^\n]*-lmsvcrt[^\n]*" wexal_libgcc "${wexal_dumped}")
if(NOT wexal_status EQUAL 0 OR wexal_libgcc STREQUAL "")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} -dumpspecs gives no *libgcc entry naming -lmsvcrt to replace")
endif()
string(REPLACE "-lmsvcrt" "-lucrt" wexal_libgcc "${wexal_libgcc}")
set(wexal_define "+ -D_UCRT -isystem ${CMAKE_CURRENT_LIST_DIR}/ucrt-include")
set(wexal_settings "*cpp:\n${wexal_define}\n\n*cc1plus:\n${wexal_define}\n\n${wexal_libgcc}\n\n")
if(EXISTS ${wexal_ucrt_driver})
    file(READ ${wexal_ucrt_driver} wexal_old_settings)
endif()
if(NOT wexal_settings STREQUAL "${wexal_old_settings}")
    file(WRITE ${wexal_ucrt_driver} "${wexal_settings}")
endif()

# GCC's driver option that reads such a file.
set(wexal_ucrt_flags "-specs=${wexal_ucrt_driver}")
set(CMAKE_C_FLAGS_INIT "${wexal_ucrt_flags}")
set(CMAKE_CXX_FLAGS_INIT "${wexal_ucrt_flags}")
set(wexal_ucrt_link "-static -Wl,--defsym,_setjmp=__intrinsic_setjmpex")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${wexal_ucrt_link}")
# A DLL exports nothing of the runtimes linked into it. (Not ALL: CMake links
# a target's own objects from an archive, and ALL would hide them from a DLL
# that exports everything by default.)
set(wexal_ucrt_runtimes libstdc++.a:libsupc++.a:libgcc.a:libgcc_eh.a:libwinpthread.a:libpthread.a)
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${wexal_ucrt_link} -Wl,--exclude-libs,${wexal_ucrt_runtimes}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${wexal_ucrt_link} -Wl,--exclude-libs,${wexal_ucrt_runtimes}")

# Read by the exports check (the runtime DLLs a library may load) and by the
# tests (each module holds its own C++ runtime).
set(WEXAL_C_RUNTIME ucrt)
