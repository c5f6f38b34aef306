# The GoogleTest suite as Windows programs under Wine. Included by tests/CMakeLists.txt in the mingw-w64
# build only (CMAKE_CROSSCOMPILING AND WIN32), before the test programs are made; it sets:
#   GoogleTest for the target: Debian's sources (/usr/src/googletest) when no Windows GTest is found;
#   CMAKE_CROSSCOMPILING_EMULATOR: tests/wine/wine.sh (the serial-device guard, a private prefix in the
#     build tree, a warm wineserver), so that CTest runs each test program, and its gtest_discover_tests
#     listing (at test time, DISCOVERY_MODE PRE_TEST: the build never needs Wine), under wine64;
#   TARN_GTEST_DISCOVERY_TIMEOUT: the first listing also creates the prefix (about 10 s);
#   TARN_TESTS_POSIX_ONLY: the test folders that are not built for Windows.

find_package(GTest QUIET)
if(NOT GTest_FOUND)
    set(TARN_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
        "GoogleTest sources to build for the target when no GTest package of the target is found")
    if(NOT EXISTS ${TARN_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
        message(FATAL_ERROR "tests: no GoogleTest for Windows and no sources in ${TARN_GOOGLETEST_SOURCE_DIR} "
                            "(install the Debian package googletest, or configure with TARN_BUILD_TESTS=OFF)")
    endif()
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    # GoogleTest's own Win32 threading, not winpthreads.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    # Third-party code: built with its own flags, outside our warnings-as-errors; its targets come with the
    # GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main aliases.
    add_subdirectory(${TARN_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    message(STATUS "tests: GoogleTest built for Windows from ${TARN_GOOGLETEST_SOURCE_DIR}")
endif()

# Every Wine call goes through wine.sh: see ../../shared/notes/wine.md for why (the host's /dev/ttyS0 is
# its console). The prefix is private to this build directory.
set(TARN_WINE_TEST_PREFIX ${CMAKE_BINARY_DIR}/wine/gtest-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine.sh run ${TARN_WINE_TEST_PREFIX})
find_program(TARN_WINE64 NAMES wine64 PATHS /usr/lib/wine DOC "Wine's 64-bit loader")
if(TARN_WINE64)
    message(STATUS "tests: the test programs run under Wine (${TARN_WINE64}), prefix ${TARN_WINE_TEST_PREFIX}")
else()
    message(STATUS "tests: wine64 not found: the Windows test programs build, but ctest cannot run them "
                   "(tests/wine/install-deps.sh installs Wine)")
endif()
set(TARN_GTEST_DISCOVERY_TIMEOUT 120)

# Test folders that only make sense on Linux, left out of the Windows build:
#   backends: the POSIX backends against pseudo-terminals made with openpty;
#   host:     end-to-end runs that spawn the program as a Linux process;
#   qemu:     Linux guest programs and a Linux guest's run of the module, on real UART registers;
#   guard:    the I/O-port guard against /dev/port's stand-in file and a fake sysfs;
#   bad_input: the bad-input catalogue, spawning the program as a Linux process;
#   realport: the module on the posix backend against pseudo-terminals.
# Their Windows counterpart is the Wine integration test (tests/wine/).
set(TARN_TESTS_POSIX_ONLY backends host qemu guard bad_input realport)
