# Windows builds: the product executable and the Wine-side test tools.
if(MSVC)
    add_executable(quorin WIN32 ${QUORIN_SOURCES})
    target_compile_options(quorin PRIVATE /O1)
else()
    add_executable(quorin WIN32 ${QUORIN_SOURCES} app/runtime.cpp)
    target_compile_options(quorin PRIVATE -Os -ffunction-sections -fdata-sections
        $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti> -fno-asynchronous-unwind-tables)
    target_link_options(quorin PRIVATE -static -s -Wl,--gc-sections)
endif()
target_include_directories(quorin PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(quorin PRIVATE user32 gdi32 shell32 advapi32)
set_target_properties(quorin PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The icon is looked up by its bare name, so it lives next to the executable;
# copied again whenever it changes, not only when the executable is linked.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/Quorin.ico
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/icon/Quorin.ico ${CMAKE_BINARY_DIR}/Quorin.ico
    DEPENDS ${PROJECT_SOURCE_DIR}/icon/Quorin.ico)
add_custom_target(quorin_icon ALL DEPENDS ${CMAKE_BINARY_DIR}/Quorin.ico)
add_dependencies(quorin quorin_icon)

# The product must stay tiny: 96 KiB for the 32-bit executable.
if(QUORIN_OBJDUMP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(QUORIN_SIZE_BUDGET 98304)
    else()
        set(QUORIN_SIZE_BUDGET "")
    endif()
    add_test(NAME executable_headers_imports_and_size
        COMMAND ${PROJECT_SOURCE_DIR}/tests/check_exe.sh ${QUORIN_OBJDUMP} $<TARGET_FILE:quorin>
                ${CMAKE_SYSTEM_PROCESSOR} ${QUORIN_SIZE_BUDGET})
endif()

# Wine-side tests each keep their own fragment.
file(GLOB QUORIN_WINDOWS_FRAGMENTS ${PROJECT_SOURCE_DIR}/cmake/windows-*.cmake)
foreach(fragment ${QUORIN_WINDOWS_FRAGMENTS})
    include(${fragment})
endforeach()
