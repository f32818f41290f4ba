# SPDX-License-Identifier: MIT
# Checks that the version in project() is the newest release in
# CHANGELOG.md, "## [VERSION] - YYYY-MM-DD": the packages take their version
# from the one and their changelogs from the other. No build is needed:
#   cmake -P cmake/check-version.cmake
set(volreport_root ${CMAKE_CURRENT_LIST_DIR}/..)
file(READ ${volreport_root}/CMakeLists.txt volreport_cmakelists)
if(NOT volreport_cmakelists MATCHES "\nproject\\(volreport VERSION ([^ )\n]+)")
  message(FATAL_ERROR "CMakeLists.txt: no project(volreport VERSION ...)")
endif()
set(volreport_version ${CMAKE_MATCH_1})
file(STRINGS ${volreport_root}/CHANGELOG.md volreport_release LIMIT_COUNT 1
     REGEX "^## \\[[0-9][^]]*\\] - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$")
string(REGEX REPLACE "^## \\[([^]]*)\\].*" "\\1" volreport_released "${volreport_release}")
if(NOT volreport_released STREQUAL volreport_version)
  message(FATAL_ERROR "project() says version ${volreport_version}, but the newest "
                      "release in CHANGELOG.md is \"${volreport_released}\"")
endif()
message(STATUS "project() and CHANGELOG.md agree: version ${volreport_version}")
