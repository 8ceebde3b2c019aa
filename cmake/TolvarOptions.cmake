# Settings every target shares, carried by one INTERFACE target, and the helpers that add tests,
# benchmarks and fuzz targets.
option(TOLVAR_GUI "Build the Qt windows and the program" ON)
option(TOLVAR_TESTS "Build the tests" ON)
option(TOLVAR_BENCH "Build the benchmarks" OFF)
option(TOLVAR_FUZZ "Build the libFuzzer targets (clang)" OFF)
option(TOLVAR_WERROR "Treat warnings as errors" OFF)
set(TOLVAR_SANITIZE "" CACHE STRING "Sanitizers for every target, e.g. address;undefined")
set(TOLVAR_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source, built for the target when cross-building")

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_library(tolvar_options INTERFACE)
target_compile_features(tolvar_options INTERFACE cxx_std_20)
target_compile_options(tolvar_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                -Wold-style-cast -Wcast-align -Woverloaded-virtual)
# The hardening Debian builds its own packages with.
target_compile_options(tolvar_options INTERFACE -fstack-protector-strong $<$<CONFIG:Release>:-D_FORTIFY_SOURCE=2>)
if(WIN32)
    # The GCC runtime and the thread library are linked in, so a program needs no DLL beside it.
    target_link_options(tolvar_options INTERFACE -static-libgcc -static-libstdc++ -static)
    # mingw-w64 keeps the stack protector's checks in a library of their own.
    target_link_options(tolvar_options INTERFACE -fstack-protector-strong)
    target_compile_definitions(tolvar_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
else()
    target_link_options(tolvar_options INTERFACE -Wl,-z,relro,-z,now)
endif()
if(TOLVAR_WERROR)
    target_compile_options(tolvar_options INTERFACE -Werror)
endif()
target_compile_definitions(tolvar_options INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT
                                                    QT_NO_KEYWORDS _FILE_OFFSET_BITS=64)
if(TOLVAR_SANITIZE)
    list(JOIN TOLVAR_SANITIZE "," _sanitizers)
    target_compile_options(tolvar_options INTERFACE -fsanitize=${_sanitizers} -fno-omit-frame-pointer
                                                    -fno-sanitize-recover=all)
    target_link_options(tolvar_options INTERFACE -fsanitize=${_sanitizers})
endif()

if(TOLVAR_FUZZ)
    # Coverage for the fuzzers reaches into the libraries, not only the fuzz target itself.
    target_compile_options(tolvar_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(tolvar_options INTERFACE -fsanitize=address,undefined)
endif()

# tolvar_units(<target> <unit>...)
# Adds each unit's sources from the calling folder: `Unit.cpp`, its shared part, and `UnitPosix.cpp` or
# `UnitWin32.cpp`, the part for the platform being built, whichever of them exist. A unit that has files for the
# other platform only adds nothing; one with no source at all is a mistake in the list.
if(WIN32)
    set(TOLVAR_PLATFORM_SUFFIX Win32)
else()
    set(TOLVAR_PLATFORM_SUFFIX Posix)
endif()
function(tolvar_units target)
    foreach(unit ${ARGN})
        set(_found FALSE)
        foreach(suffix "" Posix Win32)
            set(_file ${CMAKE_CURRENT_SOURCE_DIR}/${unit}${suffix}.cpp)
            if(EXISTS ${_file})
                set(_found TRUE)
                if(suffix STREQUAL "" OR suffix STREQUAL TOLVAR_PLATFORM_SUFFIX)
                    target_sources(${target} PRIVATE ${_file})
                endif()
            endif()
        endforeach()
        if(NOT _found)
            message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}: no source file for the unit ${unit}")
        endif()
    endforeach()
endfunction()

# Only the platform goes through the environment; the sanitizers' defaults are linked into the test programs.
set(TOLVAR_TEST_ENV QT_QPA_PLATFORM=offscreen)

# tolvar_test(<name> SOURCES <files...> [GUI] [LIBRARIES <targets...>] [NEEDS <programs...>] [LABELS <labels...>]
#             [CROSS_ARGS <arguments...>])
# One GoogleTest program; GUI tests link the windows and Qt Test and run on the offscreen platform. Each program
# it NEEDS is built first, and its path reaches the test as a define named after it (tolvar-lookupd:
# TOLVAR_LOOKUPD).
function(tolvar_test name)
    cmake_parse_arguments(ARG "GUI;ONE_AT_A_TIME" "" "SOURCES;LIBRARIES;NEEDS;LABELS;CROSS_ARGS" ${ARGN})
    if(ARG_GUI AND NOT TARGET tolvar_gui)
        return() # a build without the windows still tests the core
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE tolvar_options tolvar_testsupport GTest::gtest GTest::gmock)
    if(ARG_GUI)
        target_link_libraries(${name} PRIVATE tolvar_gui Qt6::Test tolvar_guitestmain)
    else()
        target_link_libraries(${name} PRIVATE tolvar_core GTest::gtest_main)
    endif()
    target_link_libraries(${name} PRIVATE tolvar_sanitizerdefaults ${ARG_LIBRARIES})
    foreach(program ${ARG_NEEDS})
        string(TOUPPER "${program}" define)
        string(MAKE_C_IDENTIFIER "${define}" define)
        target_compile_definitions(${name} PRIVATE ${define}="$<TARGET_FILE:${program}>")
        add_dependencies(${name} ${program})
    endforeach()
    if(CMAKE_CROSSCOMPILING)
        # One run of the whole program under the emulator: starting it once per test would cost more than
        # the tests themselves.
        add_test(NAME ${name} COMMAND ${name} ${ARG_CROSS_ARGS})
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    else()
        # Cases of a program that starts outside servers of its own may be kept from running side by side.
        set(_lock "")
        if(ARG_ONE_AT_A_TIME)
            set(_lock RESOURCE_LOCK ${name})
        endif()
        gtest_discover_tests(${name}
            DISCOVERY_MODE PRE_TEST
            PROPERTIES ${_lock} ENVIRONMENT "${TOLVAR_TEST_ENV}" LABELS "${ARG_LABELS}")
    endif()
endfunction()

# tolvar_fuzzer(<name> SOURCE <file> CORPUS <dir>)
# With TOLVAR_FUZZ a libFuzzer program; otherwise a replay of the saved corpus registered as a test.
function(tolvar_fuzzer name)
    cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "" ${ARGN})
    if(TOLVAR_FUZZ)
        add_executable(${name} ${ARG_SOURCE})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${name} PRIVATE tolvar_options tolvar_core)
        set_property(GLOBAL APPEND PROPERTY TOLVAR_FUZZERS "${name}|${ARG_CORPUS}")
    elseif(TOLVAR_TESTS)
        add_executable(${name}_replay ${ARG_SOURCE} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
        target_link_libraries(${name}_replay PRIVATE tolvar_options tolvar_core)
        add_test(NAME ${name}.corpus COMMAND ${name}_replay ${ARG_CORPUS})
        set_tests_properties(${name}.corpus PROPERTIES ENVIRONMENT "${TOLVAR_TEST_ENV}")
    endif()
endfunction()

# tolvar_bench(<name> SOURCES <files...>)
function(tolvar_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE tolvar_options tolvar_core benchmark::benchmark_main)
endfunction()
