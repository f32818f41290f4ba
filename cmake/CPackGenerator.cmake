# SPDX-License-Identifier: MIT
# Read by CPack for each generator: the Debian package carries the licence as
# its copyright file and a changelog, the RPM carries it as a %license file.
# Both install under /usr; the source release keeps the tree at its root.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_VOLREPORT_DEB_PROJECTS}")
elseif(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_VOLREPORT_RPM_PROJECTS}")
  # A reproducible build names no build machine.
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    string(APPEND CPACK_RPM_SPEC_MORE_DEFINE "\n%define _buildhost reproducible")
  endif()
endif()
