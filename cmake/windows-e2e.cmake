# End-to-end tests of the real executable under Wine, in shared sessions
# (Xvfb, a fresh prefix, a 1024x768 virtual desktop with a taskbar; or Xorg
# with real refresh rates and no virtual desktop), each build under the Wine
# of its own width.
add_executable(qlaunch ${PROJECT_SOURCE_DIR}/tests/wine/launcher.c)
target_compile_options(qlaunch PRIVATE -O2)
target_link_options(qlaunch PRIVATE -static)
target_link_libraries(qlaunch PRIVATE user32 gdi32 shell32 advapi32)
set_target_properties(qlaunch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The DLL that dll-plant drops beside a copy of quorin.exe: kernel32 alone,
# no C runtime, nothing exported.
add_library(plant MODULE ${PROJECT_SOURCE_DIR}/tests/wine/plant.c)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(QUORIN_PLANT_ENTRY _DllMain@12)
else()
    set(QUORIN_PLANT_ENTRY DllMain)
endif()
target_compile_options(plant PRIVATE -Os)
target_link_options(plant PRIVATE -nostdlib -s -Wl,--entry,${QUORIN_PLANT_ENTRY} -Wl,--exclude-all-symbols)
target_link_libraries(plant PRIVATE kernel32)
set_target_properties(plant PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

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

# A session (an X server, a fresh prefix, a desktop) as the fixture NAME_session,
# and one test NAME_KIND_CASE per case that each script (KIND.sh) lists in
# the session's environment.
function(quorin_wine_session name state)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "SCRIPTS;ENV")
    set(env QUORIN_WINE_STATE=${state} QUORIN_WINE_BIN=${CMAKE_BINARY_DIR} ${arg_ENV})
    add_test(NAME ${name}_session_start
        COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/session.sh start ${state})
    add_test(NAME ${name}_session_stop
        COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/session.sh stop ${state})
    set_tests_properties(${name}_session_start PROPERTIES FIXTURES_SETUP ${name}_session
        TIMEOUT ${QUORIN_WINE_START_TIMEOUT} ENVIRONMENT "${env}" RESOURCE_LOCK ${name}_session)
    set_tests_properties(${name}_session_stop PROPERTIES FIXTURES_CLEANUP ${name}_session
        TIMEOUT ${QUORIN_WINE_STOP_TIMEOUT} ENVIRONMENT "${env}" RESOURCE_LOCK ${name}_session)
    foreach(script ${arg_SCRIPTS})
        execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ${PROJECT_SOURCE_DIR}/tests/wine/${script} --list
            OUTPUT_VARIABLE cases OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE listed)
        if(NOT listed EQUAL 0)
            message(FATAL_ERROR "tests/wine/${script} --list failed")
        endif()
        string(REPLACE "\n" ";" cases "${cases}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/wine/${script})
        string(REGEX REPLACE "[.]sh$" "" kind ${script})
        foreach(case ${cases})
            add_test(NAME ${name}_${kind}_${case} COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/${script} ${case})
            set_tests_properties(${name}_${kind}_${case} PROPERTIES FIXTURES_REQUIRED ${name}_session
                TIMEOUT ${QUORIN_WINE_CASE_TIMEOUT} ENVIRONMENT "${env}" RESOURCE_LOCK ${name}_session)
        endforeach()
    endforeach()
endfunction()

quorin_wine_session(wine ${CMAKE_BINARY_DIR}/wine-e2e SCRIPTS oneshot.sh resident.sh
    ENV QUORIN_WINE_ARCH=${QUORIN_WINE_ARCH})
# The display as it really is: Xorg's dummy driver offers each size at its
# own rates, and xrandr adds a mode while the program runs.
quorin_wine_session(wine_xorg ${CMAKE_BINARY_DIR}/wine-xorg SCRIPTS oneshot.sh resident.sh
    ENV QUORIN_WINE_ARCH=${QUORIN_WINE_ARCH} QUORIN_WINE_DISPLAY=xorg)
# The same display with a second monitor beside the primary, which every
# switch must leave as it was.
quorin_wine_session(wine_xorg2 ${CMAKE_BINARY_DIR}/wine-xorg2 SCRIPTS oneshot.sh resident.sh
    ENV QUORIN_WINE_ARCH=${QUORIN_WINE_ARCH} QUORIN_WINE_DISPLAY=xorg QUORIN_WINE_MONITORS=2)

# The shipped 32-bit build again under Wine 10, in a 64-bit prefix as on
# 64-bit Windows: every case, then the scaled displays, a session per scale.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(QUORIN_WINE10_ENV QUORIN_WINE_IMPL=wine10 QUORIN_WINE_ARCH=win64)
    quorin_wine_session(wine10 ${CMAKE_BINARY_DIR}/wine10-e2e SCRIPTS oneshot.sh resident.sh
        ENV ${QUORIN_WINE10_ENV})
    quorin_wine_session(wine10_xorg ${CMAKE_BINARY_DIR}/wine10-xorg SCRIPTS oneshot.sh resident.sh
        ENV ${QUORIN_WINE10_ENV} QUORIN_WINE_DISPLAY=xorg)
    quorin_wine_session(wine10_xorg2 ${CMAKE_BINARY_DIR}/wine10-xorg2 SCRIPTS oneshot.sh resident.sh
        ENV ${QUORIN_WINE10_ENV} QUORIN_WINE_DISPLAY=xorg QUORIN_WINE_MONITORS=2)
    foreach(dpi 96 120 144 192)
        quorin_wine_session(wine10_dpi${dpi} ${CMAKE_BINARY_DIR}/wine10-dpi${dpi} SCRIPTS resident.sh
            ENV ${QUORIN_WINE10_ENV} QUORIN_WINE_DPI=${dpi})
    endforeach()
endif()
