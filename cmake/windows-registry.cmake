# The settings code against Wine's registry: a console probe of ours and the
# script that drives it on a fresh prefix of the build's width.
add_executable(settings_probe
    ${PROJECT_SOURCE_DIR}/tests/wine/registry/settings_probe.cpp
    ${PROJECT_SOURCE_DIR}/settings/settings.cpp)
target_include_directories(settings_probe PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(settings_probe PRIVATE -static)
target_link_libraries(settings_probe PRIVATE advapi32)
set_target_properties(settings_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

add_test(NAME wine_registry
    COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/registry/registry_test.sh
            $<TARGET_FILE:settings_probe> ${CMAKE_BINARY_DIR}/wine-registry)
# The factor and architecture come from windows-e2e.cmake, included first.
math(EXPR QUORIN_WINE_REGISTRY_TIMEOUT "600 * ${QUORIN_WINE_TIMEOUT_FACTOR}")
set_tests_properties(wine_registry PROPERTIES TIMEOUT ${QUORIN_WINE_REGISTRY_TIMEOUT}
    ENVIRONMENT "QUORIN_WINE_ARCH=${QUORIN_WINE_ARCH}")

# The 32-bit probe also under Wine 10, in a 64-bit prefix (see windows-e2e.cmake).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_test(NAME wine10_registry
        COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/registry/registry_test.sh
                $<TARGET_FILE:settings_probe> ${CMAKE_BINARY_DIR}/wine10-registry)
    set_tests_properties(wine10_registry PROPERTIES TIMEOUT ${QUORIN_WINE_REGISTRY_TIMEOUT}
        ENVIRONMENT "QUORIN_WINE_IMPL=wine10")
endif()
