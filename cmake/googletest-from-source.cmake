# SPDX-License-Identifier: MIT
# Answers find_package(GTest) by building GoogleTest from its sources, for
# builds that cannot use the build machine's compiled copy (cross builds).
# Debian's googletest package, a dependency of libgtest-dev, puts them in
# /usr/src/googletest; VOLREPORT_GOOGLETEST_SOURCE names another tree.
set(VOLREPORT_GOOGLETEST_SOURCE /usr/src/googletest
    CACHE PATH "GoogleTest sources, built when cross-compiling the tests")

macro(volreport_provide_googletest method package)
  if("${package}" STREQUAL "GTest")
    if(NOT TARGET GTest::gtest_main)
      if(NOT EXISTS ${VOLREPORT_GOOGLETEST_SOURCE}/CMakeLists.txt)
        message(FATAL_ERROR "No GoogleTest sources in ${VOLREPORT_GOOGLETEST_SOURCE}: "
                            "install googletest or set VOLREPORT_GOOGLETEST_SOURCE")
      endif()
      # Only the test framework, and nothing of it in `cmake --install`. Its
      # own build defines the GTest::gtest and GTest::gtest_main targets.
      set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      add_subdirectory(${VOLREPORT_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest
                       EXCLUDE_FROM_ALL SYSTEM)
    endif()
    set(GTest_FOUND TRUE)
  endif()
endmacro()

cmake_language(SET_DEPENDENCY_PROVIDER volreport_provide_googletest
               SUPPORTED_METHODS FIND_PACKAGE)
