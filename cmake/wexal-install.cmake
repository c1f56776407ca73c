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
include(CMakePackageConfigHelpers)

set(WEXAL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/wexal
    CACHE STRING "Where the CMake package of wexal is installed, relative to the prefix")
set(WEXAL_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    CACHE STRING "Where the pkg-config files of wexal are installed, relative to the prefix")

# The whole directory, so that every public header added later is installed too.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/wexal
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(TARGETS u8port-lib calltrail_noop
    EXPORT wexal-targets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

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
