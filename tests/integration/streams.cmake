# The standard streams against the real platform: redirected, loaded and
# unloaded at run time, and on a real terminal or Wine console.

# Started by the redirect tests with its handles pointed at files and pipes.
add_executable(u8port_stream_child integration/stream_child.cpp)
target_link_libraries(u8port_stream_child PRIVATE wexal::u8port wexal_warnings)

wexal_add_gtest(u8port_streams_redirect_tests
    SOURCES integration/streams_redirect_test.cpp)
add_dependencies(u8port_streams_redirect_tests u8port_stream_child)

# Loads the library by hand, so it must not link it; it only needs the headers.
if(WIN32)
    set(wexal_unload_libraries "")
    set(wexal_library_to_load "$<TARGET_FILE_NAME:u8port-lib>")
else()
    set(wexal_unload_libraries ${CMAKE_DL_LIBS})
    set(wexal_library_to_load "$<TARGET_FILE:u8port-lib>")
endif()
wexal_add_gtest(u8port_unload_tests
    SOURCES integration/unload_test.cpp
    LIBRARIES ${wexal_unload_libraries})
target_include_directories(u8port_unload_tests PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(u8port_unload_tests PRIVATE WEXAL_U8PORT_LIBRARY="${wexal_library_to_load}")
add_dependencies(u8port_unload_tests u8port-lib)
if(CMAKE_CROSSCOMPILING)
    # Again on a pseudo-terminal, where the Wine process gets a console.
    add_test(NAME u8port_unload_console_tests
        COMMAND script -q -e -c "WEXAL_EXPECT_CONSOLE=1 ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:u8port_unload_tests> --gtest_filter=Unload.Console*" /dev/null)
endif()

# The streams example on a terminal (a tmux pane); the Windows build runs there
# under Wine and so gets a Wine console.
if(WEXAL_BUILD_EXAMPLES)
    if(CMAKE_CROSSCOMPILING)
        set(wexal_console_runner ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh)
    else()
        set(wexal_console_runner "")
    endif()
    add_test(NAME u8port_streams_console
        COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/integration/streams_console_test.sh
                ${wexal_console_runner} $<TARGET_FILE:u8port_streams>)
endif()
