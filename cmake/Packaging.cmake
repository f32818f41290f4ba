# SPDX-License-Identifier: MIT
# The Debian package and the RPM: `cd build && cpack -G DEB` or `cpack -G RPM`.
# Both hold the stripped program and the gzipped manual page; the Debian
# package adds its copyright file and changelog under
# /usr/share, the RPM the licence under /usr/share/licenses and a %changelog.
# The documents are made here from LICENSE and CHANGELOG.md, so that each
# text is written once. file(CONFIGURE) rewrites a document only when it
# changes, so that what depends on it is not rebuilt at every configure.

set(volreport_doc_dir ${CMAKE_CURRENT_BINARY_DIR}/doc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md)

# The machine-readable Debian copyright file: the holder from LICENSE's
# copyright line, the licence text after it as the MIT paragraph.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE volreport_license)
if(NOT volreport_license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE: no \"Copyright (c) HOLDER\" line followed by the licence text")
endif()
set(volreport_copyright_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n\n" "\n.\n" volreport_license_body "${CMAKE_MATCH_2}")
string(REGEX REPLACE "\n" "\n " volreport_license_body " ${volreport_license_body}")
file(CONFIGURE OUTPUT ${volreport_doc_dir}/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: @PROJECT_NAME@

Files: *
Copyright: @volreport_copyright_holder@
License: MIT
@volreport_license_body@
")

set(VOLREPORT_MAINTAINER "volreport maintainers <volreport@example.org>"
    CACHE STRING "Maintainer of the packages, in their metadata and changelog")
set(VOLREPORT_URL "https://volreport.example.org/"
    CACHE STRING "Home page of the project, in the packages' metadata")

set(volreport_rpm_release 1)

# The Debian changelog and the RPM's %changelog from CHANGELOG.md: one entry
# for each released version ("## [VERSION] - YYYY-MM-DD"), its sections as
# items, their entries under them. Lines keep their wrapping, further in.
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md volreport_changelog_md)
# A list element may not hold a semicolon, so they travel as byte 1.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" volreport_changelog_md "${volreport_changelog_md}")
string(REGEX MATCHALL "[^\n]*\n" volreport_changelog_lines "${volreport_changelog_md}")
set(volreport_weekdays Sun Mon Tue Wed Thu Fri Sat)
set(volreport_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
set(volreport_debian_changelog "")
set(volreport_rpm_changelog "")
set(entry_open FALSE)
set(in_release FALSE)
set(trailer "")
foreach(line IN LISTS volreport_changelog_lines)
  string(REGEX REPLACE "[ \t]*\n$" "" line "${line}")
  if(line MATCHES "^## ")
    if(entry_open)
      string(APPEND volreport_debian_changelog "\n${trailer}\n\n")
      string(APPEND volreport_rpm_changelog "\n")
      set(entry_open FALSE)
    endif()
    set(in_release FALSE)
    if(line MATCHES "^## \\[([0-9][^]]*)\\] - ([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
      set(version ${CMAKE_MATCH_1})
      set(year ${CMAKE_MATCH_2})
      math(EXPR month "1${CMAKE_MATCH_3} - 100")
      set(day ${CMAKE_MATCH_4})
      # Sakamoto's method for the day of the week, which the date lines need.
      set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
      math(EXPR month_index "${month} - 1")
      list(GET offsets ${month_index} offset)
      set(y ${year})
      if(month LESS 3)
        math(EXPR y "${y} - 1")
      endif()
      math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + 1${day} - 100) % 7")
      list(GET volreport_weekdays ${weekday} weekday_name)
      list(GET volreport_months ${month_index} month_name)
      string(APPEND volreport_debian_changelog
             "${PROJECT_NAME} (${version}) unstable; urgency=medium\n")
      set(trailer " -- ${VOLREPORT_MAINTAINER}  ${weekday_name}, ${day} ${month_name} ${year} 00:00:00 +0000")
      string(APPEND volreport_rpm_changelog "* ${weekday_name} ${month_name} ${day} ${year} "
             "${VOLREPORT_MAINTAINER} - ${version}-${volreport_rpm_release}\n")
      set(entry_open TRUE)
      set(in_release TRUE)
    endif()
  elseif(NOT in_release OR line STREQUAL "" OR line MATCHES "^\\[[^]]+\\]: ")
    # Text outside released versions, blank lines and link references.
  elseif(line MATCHES "^### (.+)$")
    string(APPEND volreport_debian_changelog "\n  * ${CMAKE_MATCH_1}:\n")
    string(APPEND volreport_rpm_changelog "- ${CMAKE_MATCH_1}:\n")
  elseif(line MATCHES "^- (.+)$")
    string(APPEND volreport_debian_changelog "    - ${CMAKE_MATCH_1}\n")
    string(APPEND volreport_rpm_changelog "  - ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^  (.+)$")
    string(APPEND volreport_debian_changelog "      ${CMAKE_MATCH_1}\n")
    string(APPEND volreport_rpm_changelog "    ${CMAKE_MATCH_1}\n")
  else()
    message(FATAL_ERROR "CHANGELOG.md: cannot place the line \"${line}\" in the package changelogs")
  endif()
endforeach()
if(entry_open)
  string(APPEND volreport_debian_changelog "\n${trailer}\n")
endif()
string(REPLACE "${semicolon}" ";" volreport_debian_changelog "${volreport_debian_changelog}")
string(REPLACE "${semicolon}" ";" volreport_rpm_changelog "${volreport_rpm_changelog}")
# rpmbuild expands macros in the changelog too; %% is a plain %.
string(REPLACE "%" "%%" volreport_rpm_changelog "${volreport_rpm_changelog}")
file(CONFIGURE OUTPUT ${volreport_doc_dir}/changelog CONTENT "@volreport_debian_changelog@" @ONLY)
file(CONFIGURE OUTPUT ${volreport_doc_dir}/rpm-changelog CONTENT "@volreport_rpm_changelog@" @ONLY)
volreport_gzip(volreport_changelog ${volreport_doc_dir}/changelog "Compressing the Debian changelog")

set(volreport_package_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME})
install(FILES ${volreport_doc_dir}/copyright ${volreport_doc_dir}/changelog.gz
        DESTINATION ${volreport_package_doc_dir}
        COMPONENT volreport_deb_doc EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/${PROJECT_NAME}
        COMPONENT volreport_rpm_doc EXCLUDE_FROM_ALL)

# A stripped program still has the compilers' .comment notes; packages leave
# them out.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(
      COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/volreport\"
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR \"cannot remove .comment from the installed volreport\")
    endif()
  endif()" COMPONENT volreport)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VENDOR "The volreport authors")
set(CPACK_PACKAGE_CONTACT "${VOLREPORT_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${VOLREPORT_URL}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "filter that turns a storage volume listing into a compact report")
# A Debian synopsis is a phrase in lower case; an RPM summary is capitalised.
string(SUBSTRING "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}" 0 1 volreport_initial)
string(SUBSTRING "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}" 1 -1 volreport_summary_rest)
string(TOUPPER "${volreport_initial}" volreport_initial)
set(volreport_description
    "volreport reads a long-form listing of storage volumes from standard\n"
    "input or a file and writes one line per volume: its name, maximum\n"
    "quota, size, type, server and partition. Option letters choose the\n"
    "volumes by type (read-write, read-only, backup) and status (on-line,\n"
    "off-line). Lines that do not fit the listing format are skipped, so it\n"
    "fits in any pipeline.")
string(JOIN "" volreport_description ${volreport_description})
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackGenerator.cmake)
set(volreport_packaged "${CMAKE_CURRENT_BINARY_DIR};${PROJECT_NAME};volreport;/"
                       "${CMAKE_CURRENT_BINARY_DIR};${PROJECT_NAME};volreport_man_gz;/")
set(CPACK_VOLREPORT_DEB_PROJECTS ${volreport_packaged}
    "${CMAKE_CURRENT_BINARY_DIR};${PROJECT_NAME};volreport_deb_doc;/")
set(CPACK_VOLREPORT_RPM_PROJECTS ${volreport_packaged}
    "${CMAKE_CURRENT_BINARY_DIR};${PROJECT_NAME};volreport_rpm_doc;/")

# lintian --pedantic finds nothing in the package, and the install test
# fails on any tag. lintian reads every run of printable bytes in the
# program as text, so another compiler's machine code can hold a run it
# takes for a misspelt word; the install test then shows that finding.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${volreport_description}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(CPACK_RPM_PACKAGE_SUMMARY "${volreport_initial}${volreport_summary_rest}")
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_RELEASE ${volreport_rpm_release})
set(CPACK_RPM_PACKAGE_GROUP "Applications/Text")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${volreport_description}")
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_CHANGELOG_FILE ${volreport_doc_dir}/rpm-changelog)
# The directories above the files belong to the system; build-id links would
# add a fourth file to a package meant to hold three.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/licenses)
# The packager is the Debian package's maintainer. With SOURCE_DATE_EPOCH set,
# rpmbuild takes it as the build time and as the latest time of a file, so
# that two builds give the same bytes (CPackGenerator.cmake fixes the host).
string(REPLACE "%" "%%" volreport_packager "${VOLREPORT_MAINTAINER}")
string(JOIN "\n" CPACK_RPM_SPEC_MORE_DEFINE
       "%define _build_id_links none"
       "%define packager ${volreport_packager}"
       "%define use_source_date_epoch_as_buildtime 1"
       "%define clamp_mtime_to_source_date_epoch 1")
set(CPACK_RPM_USER_FILELIST
    "%license /usr/${CMAKE_INSTALL_DATAROOTDIR}/licenses/${PROJECT_NAME}/LICENSE")

# The source release: volreport-VERSION.tar.gz, the tree at the root of its
# top directory, without what version control, the build directories
# (wherever this one is) and packaging leave in it. CPack matches the
# patterns against absolute paths.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION})
string(REGEX REPLACE "([][+.*?()^$|\\])" "\\\\\\1" volreport_source_re "${PROJECT_SOURCE_DIR}")
set(CPACK_SOURCE_IGNORE_FILES
    "/\\.git$" "/\\.git/" "/\\.gitignore$"
    "^${volreport_source_re}/(fuzz-)?build[^/]*/"
    "/_CPack_Packages/" "\\.(deb|rpm)$" "^${volreport_source_re}/${PROJECT_NAME}-[^/]*\\.tar\\.gz$"
    "^${volreport_source_re}/CMakeUserPresets\\.json$" "~$" "\\.sw[op]$" "/\\.?#")
string(FIND "${PROJECT_BINARY_DIR}/" "${PROJECT_SOURCE_DIR}/" volreport_binary_in_source)
if(volreport_binary_in_source EQUAL 0 AND NOT PROJECT_BINARY_DIR STREQUAL PROJECT_SOURCE_DIR)
  string(REGEX REPLACE "([][+.*?()^$|\\])" "\\\\\\1" volreport_binary_re "${PROJECT_BINARY_DIR}")
  list(APPEND CPACK_SOURCE_IGNORE_FILES "^${volreport_binary_re}/")
endif()
# The configuration files hold every value as it is set here, backslashes
# of the patterns included.
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
# `cmake --build DIR --target dist` makes the source release in DIR.
add_custom_target(dist
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackSourceConfig.cmake
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
