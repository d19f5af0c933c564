# End-to-end tests of the real executable under Wine, in one shared session
# (Xvfb, a fresh prefix, a 1024x768 virtual desktop with a taskbar), each
# build under the Wine of its own width.
add_executable(qlaunch ${PROJECT_SOURCE_DIR}/tests/wine/launcher.c)
target_compile_options(qlaunch PRIVATE -O2)
target_link_options(qlaunch PRIVATE -static)
target_link_libraries(qlaunch PRIVATE user32 gdi32 shell32 advapi32)
set_target_properties(qlaunch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# timing.sh's yardstick, linked the way quorin.exe is.
add_executable(bare_switch WIN32 ${PROJECT_SOURCE_DIR}/tests/wine/bare_switch.c)
target_compile_options(bare_switch PRIVATE -Os)
target_link_options(bare_switch PRIVATE -static -s)
target_link_libraries(bare_switch PRIVATE user32 gdi32)
set_target_properties(bare_switch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# 32-bit Wine may run under an emulator, several times slower: ctest allows
# for that here, and the scripts scale their waits by the factor the session
# finds (QUORIN_WINE_SLOWDOWN).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(QUORIN_WINE_ARCH win32)
    set(QUORIN_WINE_TIMEOUT_FACTOR 4)
else()
    set(QUORIN_WINE_ARCH win64)
    set(QUORIN_WINE_TIMEOUT_FACTOR 1)
endif()
math(EXPR QUORIN_WINE_START_TIMEOUT "180 * ${QUORIN_WINE_TIMEOUT_FACTOR}")
math(EXPR QUORIN_WINE_STOP_TIMEOUT "60 * ${QUORIN_WINE_TIMEOUT_FACTOR}")
math(EXPR QUORIN_WINE_CASE_TIMEOUT "120 * ${QUORIN_WINE_TIMEOUT_FACTOR}")

set(QUORIN_WINE_STATE ${CMAKE_BINARY_DIR}/wine-e2e)
set(QUORIN_WINE_ENV QUORIN_WINE_STATE=${QUORIN_WINE_STATE} QUORIN_WINE_BIN=${CMAKE_BINARY_DIR}
    QUORIN_WINE_ARCH=${QUORIN_WINE_ARCH})

add_test(NAME wine_session_start
    COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/session.sh start ${QUORIN_WINE_STATE})
add_test(NAME wine_session_stop
    COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/session.sh stop ${QUORIN_WINE_STATE})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session
    TIMEOUT ${QUORIN_WINE_START_TIMEOUT} ENVIRONMENT "${QUORIN_WINE_ENV}" RESOURCE_LOCK wine_session)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session
    TIMEOUT ${QUORIN_WINE_STOP_TIMEOUT} ENVIRONMENT "${QUORIN_WINE_ENV}" RESOURCE_LOCK wine_session)

# Each script lists its own cases; one ctest test per case.
function(quorin_wine_cases script prefix)
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/${script} --list
        OUTPUT_VARIABLE cases OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE listed)
    if(NOT listed EQUAL 0)
        message(FATAL_ERROR "tests/wine/${script} --list failed")
    endif()
    string(REPLACE "\n" ";" cases "${cases}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/wine/${script})
    foreach(case ${cases})
        add_test(NAME ${prefix}_${case} COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/${script} ${case})
        set_tests_properties(${prefix}_${case} PROPERTIES FIXTURES_REQUIRED wine_session
            TIMEOUT ${QUORIN_WINE_CASE_TIMEOUT} ENVIRONMENT "${QUORIN_WINE_ENV}" RESOURCE_LOCK wine_session)
    endforeach()
endfunction()
quorin_wine_cases(oneshot.sh wine_oneshot)
quorin_wine_cases(resident.sh wine_resident)
