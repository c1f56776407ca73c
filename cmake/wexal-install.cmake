# Installation of both libraries as one package:
#   include/wexal/...                        every public header
#   bin/ (DLLs) or lib/ (.so, import libs)   u8port-lib and calltrail_noop; the
#                                            Debug files carry the postfix d, so
#                                            Debug and Release install side by side
#   lib/cmake/wexal/                         find_package(wexal CONFIG): wexal::u8port,
#                                            wexal::calltrail_noop, one target file
#                                            per installed configuration
#   lib/pkgconfig/                           wexal-u8port.pc, wexal-calltrail-noop.pc
#                                            (Debug: wexal-u8port-debug.pc,
#                                            wexal-calltrail-noop-debug.pc)
#   bin/ (Windows, shared, mingw-w64 GCC)    the compiler's runtime DLLs the DLLs load
#   include/wexal/*/static_library.hpp       (static builds) WEXAL_U8PORT_STATIC and
#                                            WEXAL_CALLTRAIL_STATIC for every program
#                                            compiled against these headers
include(CMakePackageConfigHelpers)

set(WEXAL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/wexal
    CACHE STRING "Where the CMake package of wexal is installed, relative to the prefix")
set(WEXAL_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    CACHE STRING "Where the pkg-config files of wexal are installed, relative to the prefix")

# A prefix holds the shared or the static package, never both: the static
# one's headers declare the static library to every program compiled against
# them. Installing one over the other is refused before anything is written.
foreach(wexal_dir IN ITEMS CMAKE_INSTALL_INCLUDEDIR WEXAL_INSTALL_CMAKEDIR)
    set(wexal_installed_${wexal_dir} "${${wexal_dir}}")
    if(NOT IS_ABSOLUTE "${${wexal_dir}}")
        set(wexal_installed_${wexal_dir} "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${${wexal_dir}}")
    endif()
endforeach()
install(CODE "
    set(wexal_static_header \"${wexal_installed_CMAKE_INSTALL_INCLUDEDIR}/wexal/u8port/static_library.hpp\")
    set(wexal_targets \"${wexal_installed_WEXAL_INSTALL_CMAKEDIR}/wexal-targets.cmake\")
    if(\"${WEXAL_LIBRARY_TYPE}\" STREQUAL SHARED AND EXISTS \"\${wexal_static_header}\")
        message(FATAL_ERROR \"\${CMAKE_INSTALL_PREFIX} holds the static package of wexal; install the shared one into a prefix of its own\")
    elseif(\"${WEXAL_LIBRARY_TYPE}\" STREQUAL STATIC AND EXISTS \"\${wexal_targets}\" AND NOT EXISTS \"\${wexal_static_header}\")
        message(FATAL_ERROR \"\${CMAKE_INSTALL_PREFIX} holds the shared package of wexal; install the static one into a prefix of its own\")
    endif()")

# The whole directory, so that every public header added later is installed too.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/wexal
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WEXAL_LIBRARY_TYPE STREQUAL STATIC)
    foreach(wexal_library IN ITEMS u8port calltrail)
        string(TOUPPER ${wexal_library} wexal_macro)
        file(WRITE ${PROJECT_BINARY_DIR}/package/include/wexal/${wexal_library}/static_library.hpp
            "// Installed with the static build of wexal: the programs compiled against\n"
            "// these headers link its static libraries.\n"
            "#ifndef WEXAL_${wexal_macro}_STATIC\n#define WEXAL_${wexal_macro}_STATIC\n#endif\n")
    endforeach()
    install(DIRECTORY ${PROJECT_BINARY_DIR}/package/include/wexal DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

install(TARGETS u8port-lib calltrail_noop
    EXPORT wexal-targets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The compiler's runtime DLLs (wexal-usage.cmake) beside the package's own; the
# config file makes them imported targets again, with the compiler's import
# libraries. WEXAL_PACKAGE_RUNTIME_DLLS: target=dll name=import library.
set(WEXAL_PACKAGE_RUNTIME_DLLS "")
foreach(wexal_runtime IN LISTS WEXAL_RUNTIME_DLLS)
    string(REPLACE "=" ";" wexal_runtime "${wexal_runtime}")
    list(GET wexal_runtime 0 wexal_name)
    list(GET wexal_runtime 1 wexal_dll)
    list(GET wexal_runtime 2 wexal_implib)
    install(FILES ${wexal_dll} DESTINATION ${CMAKE_INSTALL_BINDIR})
    get_filename_component(wexal_dll ${wexal_dll} NAME)
    list(APPEND WEXAL_PACKAGE_RUNTIME_DLLS "${wexal_name}=${wexal_dll}=${wexal_implib}")
endforeach()

# wexal-targets.cmake plus wexal-targets-<config>.cmake for the configuration
# being installed; installing Debug and Release into one prefix leaves both.
install(EXPORT wexal-targets
    NAMESPACE wexal::
    DESTINATION ${WEXAL_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/wexalConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/wexalConfig.cmake
    INSTALL_DESTINATION ${WEXAL_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/wexalConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/package/wexalConfig.cmake
    ${PROJECT_BINARY_DIR}/package/wexalConfigVersion.cmake
    DESTINATION ${WEXAL_INSTALL_CMAKEDIR})

# pkg-config files locate the prefix from their own directory, so the package
# works wherever `cmake --install --prefix` puts it. A pkg-config file names
# one library file, so each configuration gets its own: the Release one (and
# any other non-Debug one) under the plain name, the Debug one as *-debug.pc.
if(IS_ABSOLUTE "${WEXAL_INSTALL_PKGCONFIGDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}"
   OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(WEXAL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    set(WEXAL_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
    set(WEXAL_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
    file(RELATIVE_PATH wexal_pc_up "/${WEXAL_INSTALL_PKGCONFIGDIR}" "/")
    string(REGEX REPLACE "/$" "" wexal_pc_up "${wexal_pc_up}")
    set(WEXAL_PC_PREFIX "\${pcfiledir}/${wexal_pc_up}")
    set(WEXAL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(WEXAL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
# A static build says so to its users, as the CMake targets do.
set(WEXAL_PC_CFLAGS "")
set(WEXAL_PC_CALLTRAIL_CFLAGS "")
if(WEXAL_LIBRARY_TYPE STREQUAL STATIC)
    set(WEXAL_PC_CFLAGS " -DWEXAL_U8PORT_STATIC")
    set(WEXAL_PC_CALLTRAIL_CFLAGS " -DWEXAL_CALLTRAIL_STATIC")
endif()
# and names the system libraries it needs, which a shared build links itself.
set(WEXAL_PC_LIBS "")
if(WEXAL_LIBRARY_TYPE STREQUAL STATIC AND WEXAL_U8PORT_SYSTEM_LIBRARIES)
    list(TRANSFORM WEXAL_U8PORT_SYSTEM_LIBRARIES PREPEND " -l" OUTPUT_VARIABLE WEXAL_PC_LIBS)
    list(JOIN WEXAL_PC_LIBS "" WEXAL_PC_LIBS)
endif()
foreach(wexal_pc u8port calltrail-noop)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wexal-${wexal_pc}.pc.in
        ${PROJECT_BINARY_DIR}/package/wexal-${wexal_pc}.pc.in @ONLY)
    set(wexal_pc_file "wexal-${wexal_pc}$<$<CONFIG:Debug>:-debug>.pc")
    file(GENERATE
        OUTPUT ${PROJECT_BINARY_DIR}/package/$<CONFIG>/${wexal_pc_file}
        INPUT ${PROJECT_BINARY_DIR}/package/wexal-${wexal_pc}.pc.in)
    install(FILES ${PROJECT_BINARY_DIR}/package/$<CONFIG>/${wexal_pc_file}
        DESTINATION ${WEXAL_INSTALL_PKGCONFIGDIR})
endforeach()
