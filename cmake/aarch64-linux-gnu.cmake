# SPDX-License-Identifier: MIT
# Cross build for 64-bit ARM Linux with Debian's crossbuild-essential-arm64
# (aarch64-linux-gnu-g++). Programs are linked statically, so they need no
# aarch64 sysroot at run time: qemu-user runs them directly, and so does the
# kernel once binfmt_misc hands aarch64 binaries to qemu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Libraries and headers come only from the target's tree, never from the
# build machine's; programs (the emulator, gzip) come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest and test discovery start the test programs through the emulator, so
# the unit tests run even where binfmt_misc is not set up. Programs that the
# tests themselves start (the end-to-end tests exec the filter) still need
# binfmt_misc.
find_program(VOLREPORT_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(VOLREPORT_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOLREPORT_QEMU_AARCH64})
endif()

# Debian has no GoogleTest for the target unless arm64 is added as a foreign
# architecture; build it from the sources that libgtest-dev ships instead.
list(APPEND CMAKE_PROJECT_TOP_LEVEL_INCLUDES
     ${CMAKE_CURRENT_LIST_DIR}/googletest-from-source.cmake)
