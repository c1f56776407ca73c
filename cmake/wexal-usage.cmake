# What a program using u8port-lib and calltrail_noop gets from their targets
# besides headers and library files, in the build tree (add_subdirectory,
# FetchContent) as in the installed package (wexal-install.cmake).

# Sources are UTF-8. MSVC reads a consumer's "é" in the ANSI code page unless
# told otherwise; GCC and clang read UTF-8 already.
foreach(wexal_target IN ITEMS u8port-lib calltrail_noop)
    target_compile_options(${wexal_target} INTERFACE $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CXX_COMPILER_ID:MSVC>>:/utf-8>)
endforeach()

# The shared libraries built by mingw-w64 GCC load the compiler's runtime
# DLLs, and so does every program it builds. Each is a SHARED IMPORTED target
# in the libraries' interface, so that $<TARGET_RUNTIME_DLLS:app> names it
# beside u8port-lib.dll; the package installs the DLLs into bin/. Not where
# the runtime is linked in (-static: the UCRT preset), nor for other compilers,
# whose runtime files GCC's -print-file-name does not find.
# WEXAL_RUNTIME_DLLS: target=dll=import library, for wexal-install.cmake.
function(wexal_runtime_file name out)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not find its ${name}")
    endif()
    file(REAL_PATH "${path}" path)
    set(${out} "${path}" PARENT_SCOPE)
endfunction()

set(WEXAL_RUNTIME_DLLS "")
if(WIN32 AND WEXAL_LIBRARY_TYPE STREQUAL SHARED AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   AND NOT CMAKE_SHARED_LINKER_FLAGS MATCHES "(^| )-static( |$)")
    foreach(wexal_runtime IN ITEMS libstdcxx=libstdc++-6.dll=libstdc++.dll.a libgcc_s=libgcc_s_seh-1.dll=libgcc_s.a
                                   libwinpthread=libwinpthread-1.dll=libwinpthread.dll.a)
        string(REPLACE "=" ";" wexal_runtime "${wexal_runtime}")
        list(GET wexal_runtime 0 wexal_name)
        list(GET wexal_runtime 1 wexal_dll)
        list(GET wexal_runtime 2 wexal_implib)
        wexal_runtime_file(${wexal_dll} wexal_dll)
        wexal_runtime_file(${wexal_implib} wexal_implib)
        if(NOT TARGET wexal_runtime_${wexal_name})
            add_library(wexal_runtime_${wexal_name} SHARED IMPORTED GLOBAL)
            set_target_properties(wexal_runtime_${wexal_name} PROPERTIES
                IMPORTED_LOCATION "${wexal_dll}" IMPORTED_IMPLIB "${wexal_implib}")
        endif()
        foreach(wexal_target IN ITEMS u8port-lib calltrail_noop)
            target_link_libraries(${wexal_target} INTERFACE
                $<BUILD_INTERFACE:wexal_runtime_${wexal_name}> $<INSTALL_INTERFACE:wexal::runtime_${wexal_name}>)
        endforeach()
        list(APPEND WEXAL_RUNTIME_DLLS "${wexal_name}=${wexal_dll}=${wexal_implib}")
    endforeach()
endif()
