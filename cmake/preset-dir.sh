# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the scripts that build with a preset.

volreport_source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# preset_dir PRESET: configures PRESET and prints its build directory, as
# CMake reports it.
preset_dir()
{
    (cd "$volreport_source_dir" && cmake --preset "$1") |
        sed -n 's/^-- Build files have been written to: //p'
}
