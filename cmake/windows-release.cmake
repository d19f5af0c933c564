# The release: reproducible executables, the zip a Windows user downloads, and
# the tests that keep both honest.
if(NOT MSVC)
    # The PE header would otherwise carry the link time, and two builds of one
    # commit would differ.
    target_link_options(quorin PRIVATE -Wl,--no-insert-timestamp)
endif()

# The zip is the 32-bit product.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    find_program(QUORIN_PYTHON python3 REQUIRED)
    set(QUORIN_PACKAGE_INPUTS
        ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        $<TARGET_FILE:quorin>
        ${PROJECT_SOURCE_DIR}/icon/Quorin.ico
        ${PROJECT_SOURCE_DIR}/docs/README.txt
        ${PROJECT_SOURCE_DIR}/LICENSE)

    add_custom_target(dist
        COMMAND ${QUORIN_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/package.py
                ${PROJECT_VERSION} ${QUORIN_PACKAGE_INPUTS} ${PROJECT_SOURCE_DIR}/dist
        VERBATIM)
    add_dependencies(dist quorin)

    add_test(NAME release_package
        COMMAND ${QUORIN_PYTHON} ${PROJECT_SOURCE_DIR}/tests/release/check_package.py
                ${PROJECT_SOURCE_DIR}/scripts/package.py
                ${PROJECT_VERSION} ${QUORIN_PACKAGE_INPUTS} ${CMAKE_BINARY_DIR}/package-test)

    # The shipped icon is what its grids draw, not a stale copy.
    add_test(NAME release_icon COMMAND ${QUORIN_PYTHON} ${PROJECT_SOURCE_DIR}/icon/make_icon.py --check)

    add_test(NAME release_reproducible
        COMMAND ${PROJECT_SOURCE_DIR}/tests/release/check_reproducible.sh
                ${PROJECT_SOURCE_DIR} win32 $<TARGET_FILE:quorin>)
    set_tests_properties(release_reproducible PROPERTIES TIMEOUT 600)
endif()
