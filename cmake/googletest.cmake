# GoogleTest for the suites: the installed CMake package when it links with
# this build's compiler and flags, otherwise built from the sources Debian's
# libgtest-dev ships in /usr/src/googletest (the package's version file
# already turns down a 32-bit build, and a cross build does not look on the
# host). Either way the suites link GTest::gtest_main.
# -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON always builds from the sources.
find_package(GTest CONFIG QUIET)
if(TARGET GTest::gtest_main)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LIBRARIES GTest::gtest_main)
  check_cxx_source_compiles("
    #include <gtest/gtest.h>
    TEST(Probe, Links) { EXPECT_EQ(1, 1); }" Q32VEX_GTEST_PACKAGE_LINKS)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(NOT Q32VEX_GTEST_PACKAGE_LINKS)
    # The package's imported targets cannot be taken back, and the sources
    # would define targets of the same names.
    message(FATAL_ERROR "GoogleTest: the package in ${GTest_DIR} does not link with this build; "
                        "configure with -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON to build it from its sources")
  endif()
  message(STATUS "GoogleTest: package in ${GTest_DIR}")
  return()
endif()

set(Q32VEX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, used when there is no package")
if(NOT EXISTS ${Q32VEX_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest: no package and no sources in ${Q32VEX_GTEST_SOURCE_DIR}; the tests, "
                      "the fuzz targets and the benchmark need it for their support library (apt-get install "
                      "libgtest-dev, or -DQ32VEX_TESTS=OFF -DQ32VEX_FUZZ=OFF -DQ32VEX_BENCH=OFF)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${Q32VEX_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
message(STATUS "GoogleTest: built from ${Q32VEX_GTEST_SOURCE_DIR}")
