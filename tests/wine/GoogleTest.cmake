# GoogleTest for the Windows build of the tests (preset mingw-tests): no package of it exists for the
# target, so it is built from Debian's sources, and a config file in CMake's package redirects folder lets
# find_package(GTest) find it as if it were installed.
set(gtest_disable_pthreads ON CACHE BOOL "GoogleTest's own Win32 threading, not winpthreads" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake "")
