#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end checks of what a user installs, one way per run:
#   prefix  `cmake --install` into a temporary prefix;
#   deb     the Debian package built by CPack, unpacked with dpkg-deb and
#           checked by lintian;
#   rpm     the RPM built by CPack, unpacked with rpm2cpio and cpio and
#           checked by rpmlint;
#   source  the source release made by CPack, listed by tar: the sources at
#           the root of its top directory, and no build or VCS directory.
# Each package is built twice with SOURCE_DATE_EPOCH set, and must come out
# byte for byte the same.
# Each installed binary must give the same reports as the built one, a
# packaged one must be stripped and hardened, and the manual page, as groff
# renders it, must have every section and document the binary's own usage
# line, help text and messages.
#
# Usage: install_test.sh prefix|deb|rpm|source BUILD_DIR SOURCE_DIR
# VOLREPORT_HARDENED is yes when the build applied every hardening flag, no
# when it did not (a Debug or sanitizer build, whichever way the sanitizers
# came): CTest passes on what CMake decided. CMAKE and CPACK may name the
# cmake and cpack programs to use. Exit status 77 (a skip for CTest) when a
# tool is missing; the message names the package to install, and is also
# written to the file VOLREPORT_SKIP_REASON names, which CTest shows after
# the run.
set -uo pipefail

usage="usage: install_test.sh prefix|deb|rpm|source BUILD_DIR SOURCE_DIR"
[ $# -eq 3 ] || { echo "$usage" >&2; exit 2; }
way=$1
case $way in prefix | deb | rpm | source) ;; *) echo "$usage" >&2; exit 2 ;; esac
hardened=${VOLREPORT_HARDENED:-}
case $hardened in
yes | no) ;;
*) echo "install_test.sh: VOLREPORT_HARDENED must be yes or no" >&2; exit 2 ;;
esac
build=$(cd "$2" && pwd) || exit 2
source=$(cd "$3" && pwd) || exit 2
cmake=${CMAKE:-cmake}
cpack=${CPACK:-cpack}

failures=0
checks=0
missing_tools=()

# CTest shows this output when the test fails: lines are kept within 120
# columns, long ones broken at a space.
exec > >(fold -s -w 120) 2>&1
fold_pid=$!
# end_output: the output is complete before the run ends.
end_output()
{
    exec >&- 2>&-
    wait $fold_pid
}
trap end_output EXIT

# skip REASON: the run ends as skipped, and says why.
skip()
{
    echo "SKIP: $1"
    if [ -n "${VOLREPORT_SKIP_REASON:-}" ]; then
        mkdir -p "$(dirname "$VOLREPORT_SKIP_REASON")" &&
            echo "install.$way skipped: $1" >"$VOLREPORT_SKIP_REASON"
    fi
    exit 77
}

# Counts a failed check and says what was expected; the run goes on.
fail()
{
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

pass()
{
    checks=$((checks + 1))
}

# check MESSAGE COMMAND...: passes when COMMAND succeeds, else fails with
# MESSAGE.
check()
{
    local message=$1
    shift
    if "$@"; then pass; else fail "$message"; fi
}

# check_quiet MESSAGE COMMAND...: passes when COMMAND succeeds and prints
# nothing, else fails with MESSAGE and shows what COMMAND printed.
check_quiet()
{
    local message=$1 status
    shift
    "$@" >"$tmp/quiet.out" 2>&1
    status=$?
    if [ $status -eq 0 ] && [ ! -s "$tmp/quiet.out" ]; then
        pass
    else
        fail "$message: exit status $status:"
        cat "$tmp/quiet.out" >&2
    fi
}

# Ends the run at once: nothing after this check can be tested.
die()
{
    echo "FAIL: $*" >&2
    echo "install_test: stopped after $checks checks passed" >&2
    exit 1
}

# need_tool TOOL PACKAGE: without TOOL nothing of this way can be checked.
need_tool()
{
    command -v "$1" >/dev/null && return
    skip "$1 not found: install the Debian package $2"
}

# lint_tool TOOL PACKAGE: without TOOL the run checks the rest and then
# counts as skipped, so that the missing check does not pass unseen.
lint_tool()
{
    command -v "$1" >/dev/null && return
    missing_tools+=("$1 (Debian package $2)")
    return 1
}

need_tool gzip gzip
[ "$way" = source ] || need_tool groff groff-base
if [ "$way" = prefix ]; then need_tool "$cmake" cmake; else need_tool "$cpack" cmake; fi
case $way in
deb)
    need_tool dpkg dpkg
    need_tool dpkg-deb dpkg
    need_tool dpkg-shlibdeps dpkg-dev
    need_tool file file
    need_tool readelf binutils
    ;;
rpm)
    need_tool rpmbuild rpm
    need_tool rpm2cpio rpm
    need_tool cpio cpio
    need_tool readelf binutils
    ;;
esac

tmp=$(mktemp -d "${TMPDIR:-/tmp}/volreport-install.XXXXXX") || die "cannot make a temporary directory"
trap 'rm -rf "$tmp"; end_output' EXIT
trap 'exit 1' HUP INT TERM
# rpm, rpmlint and lintian keep a database and word lists in the home
# directory: they get one here, removed with the rest, so that a test run
# leaves the user's as it was.
export HOME=$tmp/home
unset XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME XDG_STATE_HOME
mkdir "$HOME" || die "cannot make $HOME"

# cache_value NAME: the value of NAME in the build's CMake cache.
cache_value()
{
    sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}
version=$(cache_value CMAKE_PROJECT_VERSION)
[ -n "$version" ] || die "no CMAKE_PROJECT_VERSION in $build/CMakeCache.txt"
[ -x "$build/volreport" ] || die "$build/volreport is not built"
listing=$source/examples/listing.txt
[ -f "$listing" ] || die "$listing not found"

# The reports of the built program, by default and with every volume; they
# must differ, or comparing them would not show that the letters work.
"$build/volreport" "$listing" >"$tmp/expected.default" || die "$build/volreport $listing failed"
"$build/volreport" -rbf "$listing" >"$tmp/expected.all" || die "$build/volreport -rbf $listing failed"
[ -s "$tmp/expected.default" ] || die "$build/volreport gives an empty report of $listing"
if cmp -s "$tmp/expected.default" "$tmp/expected.all"; then
    die "the default report of $listing equals the -rbf report: the example cannot tell them apart"
fi

# run_program ARGS...: runs $program with ARGS, its standard output in
# $tmp/actual, its standard error in $tmp/stderr and its exit status in
# $status. An argument "<FILE" or ">FILE" redirects standard input or output.
run_program()
{
    local args=() in=/dev/null out=$tmp/actual arg
    for arg in "$@"; do
        case $arg in
        "<"*) in=${arg#<} ;;
        ">"*) out=${arg#>} ;;
        *) args+=("$arg") ;;
        esac
    done
    : >"$tmp/actual"
    "$program" "${args[@]}" <"$in" >"$out" 2>"$tmp/stderr"
    status=$?
}

# expect_report LABEL EXPECTED ARGS...: $program run with ARGS exits 0
# silently and writes the report in the file EXPECTED.
expect_report()
{
    local label=$1 expected=$2 status
    shift 2
    run_program "$@"
    if [ "$status" -ne 0 ] || [ -s "$tmp/stderr" ]; then
        fail "$label: $program $*: exit status $status, standard error: $(cat "$tmp/stderr")"
    elif ! cmp -s "$expected" "$tmp/actual"; then
        fail "$label: $program $* differs from the report of $build/volreport (expected, actual):"
        diff -u "$expected" "$tmp/actual" | head -n 20 >&2
    else
        pass
    fi
}

# check_binary LABEL PROGRAM: PROGRAM gives the reference reports, from a
# named file and from standard input, and its own name in the usage line.
check_binary()
{
    local label=$1 program=$2
    [ -x "$program" ] || { fail "$label: $program is not an executable file"; return; }
    expect_report "$label" "$tmp/expected.default" "$listing"
    expect_report "$label" "$tmp/expected.all" -rbf "<$listing"
    expect_message "Usage: $program [-rwbnfh] [ input-file [ output-file ]]" "" -x
}

page_has_line()
{
    grep -Fxq -- "$1" "$tmp/page.lines"
}

# check_page LABEL PAGE PROGRAM: the page renders without warnings, carries
# the version, has every section, and documents PROGRAM's usage line, help
# text and messages word for word (with the names as placeholders).
check_page()
{
    local label=$1 page=$2 program=$3

    check "$label: $page has no .TH line naming \"volreport $version\": $(grep -m1 '^\.TH' "$page")" \
        grep -Eq "^\.TH VOLREPORT 1 [^ ]+ \"volreport $version\" " <(head -n 5 "$page")

    check_quiet "$label: groff -man -Tutf8 -ww -z $page warns" groff -man -Tutf8 -ww -z "$page"
    lint_tool mandoc mandoc && check_quiet "$label: mandoc -T lint $page" mandoc -T lint "$page"

    # Each line of the rendered page, with its leading white space removed, is
    # one line of $tmp/page.lines, for whole-line matches of the text.
    groff -man -Tutf8 -P-cbou -rLL=200n "$page" >"$tmp/page.txt" 2>"$tmp/groff.err"
    sed 's/^[[:space:]]*//; s/[[:space:]]*$//' "$tmp/page.txt" >"$tmp/page.lines"
    if [ -s "$tmp/groff.err" ] || [ ! -s "$tmp/page.txt" ]; then
        fail "$label: groff could not render $page: $(cat "$tmp/groff.err")"
        return
    fi
    local section
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "INPUT FORMAT" "OUTPUT FORMAT" \
        "EXIT STATUS" DIAGNOSTICS EXAMPLES "SEE ALSO"; do
        # A section heading is a line of its own at the left margin.
        check "$label: $page has no section \"$section\"" grep -Fxq -- "$section" "$tmp/page.txt"
    done

    local synopsis
    synopsis=$(sed -n '/^SYNOPSIS$/{n;p;q}' "$tmp/page.lines")
    check "$label: the SYNOPSIS of $page is \"$synopsis\", not the usage line's command line" \
        [ "$synopsis" = "volreport [-rwbnfh] [ input-file [ output-file ]]" ]

    # The help text, with the program's name as the page writes it.
    "$program" -h >/dev/null 2>"$tmp/help"
    local line missing=0
    while IFS= read -r line; do
        line=${line/"$program"/program}
        line=$(printf '%s' "$line" | sed 's/^[[:space:]]*//')
        page_has_line "$line" || { fail "$label: $page lacks the help line \"$line\""; missing=1; }
    done <"$tmp/help"
    [ $missing -eq 0 ] && pass

    # Every message, provoked from the program: its actual text, then the
    # page's line, where the names given are input-file and output-file.
    cp "$listing" "$tmp/listing"
    local no_file=$tmp/no-such-file
    expect_message "Usage: $program [-rwbnfh] [ input-file [ output-file ]]" \
        "Usage: program [-rwbnfh] [ input-file [ output-file ]]" -x
    expect_message "Unable to open input file $no_file" \
        "Unable to open input file input-file" "$no_file"
    expect_message "Unable to open output file $tmp" \
        "Unable to open output file output-file" "$listing" "$tmp"
    expect_message "Output file $tmp/listing is the input file" \
        "Output file output-file is the input file" "$tmp/listing" "$tmp/listing"
    expect_message "Unable to read input file $tmp" \
        "Unable to read input file input-file" "$tmp"
    expect_message "Unable to read standard input" \
        "Unable to read standard input" "<$tmp"
    if [ -w /dev/full ]; then
        expect_message "Unable to write output file /dev/full" \
            "Unable to write output file output-file" "$listing" /dev/full
        expect_message "Unable to write standard output" \
            "Unable to write standard output" "$listing" ">/dev/full"
    fi
}

# expect_message ACTUAL DOCUMENTED ARGS...: run_program ARGS exits with
# status 2, writes nothing on standard output and the line ACTUAL on
# standard error, and unless DOCUMENTED is empty $page has the line
# DOCUMENTED (with $label, $page and $program of the caller).
expect_message()
{
    local actual=$1 documented=$2 status
    shift 2
    run_program "$@"
    if [ "$status" -ne 2 ] || [ -s "$tmp/actual" ] || [ "$(cat "$tmp/stderr")" != "$actual" ]; then
        fail "$label: $program $*: expected exit status 2 and \"$actual\", got status $status and \"$(cat "$tmp/stderr")\""
    elif [ -n "$documented" ] && ! page_has_line "$documented"; then
        fail "$label: $page does not document the message \"$documented\""
    else
        pass
    fi
}

# Lists the regular files and links under a directory, relative to it.
list_files()
{
    (cd "$1" && find . \( -type f -o -type l \) -print | sed 's|^\./||' | LC_ALL=C sort)
}

# check_gzip LABEL FILE: FILE is gzip data made with -n, so that the same
# text always gives the same bytes: no file name (flag byte 0) and no time
# stamp (4 zero bytes).
check_gzip()
{
    local header
    if ! gzip -t "$2" 2>"$tmp/gzip.err"; then
        fail "$1: $2 is not a valid gzip file: $(cat "$tmp/gzip.err")"
        return 1
    fi
    header=$(od -An -tu1 -j3 -N5 "$2" | tr -s ' ' | sed 's/^ //; s/ $//')
    if [ "$header" != "0 0 0 0 0" ]; then
        fail "$1: $2 keeps a file name or a time stamp (gzip header flag and time bytes: $header)"
        return 1
    fi
    pass
}

# check_unpacked LABEL ROOT: the program unpacked under ROOT is the built one,
# hardened, and its gzipped page is the one the build made and documents it.
check_unpacked()
{
    local label=$1 program=$2/usr/bin/volreport page=$2/usr/share/man/man1/volreport.1.gz
    check_binary "$label" "$program"
    check_hardened "$label" "$program"
    [ -f "$page" ] || { fail "$label: the package has no $(basename "$page")"; return; }
    check_gzip "$label" "$page" || return
    gzip -dc "$page" >"$tmp/packaged.1"
    check "$label: the packaged page differs from $build/man/volreport.1" \
        cmp -s "$build/man/volreport.1" "$tmp/packaged.1"
    check_page "$label" "$tmp/packaged.1" "$program"
}

# check_hardened LABEL PROGRAM: a packaged program is stripped, without the
# compilers' .comment notes, position-independent, and its relocations are
# bound at start-up and then made read-only. readelf shows each.
check_hardened()
{
    local label=$1 program=$2 sections dynamic headers row what pattern where text
    sections=$(readelf -SW "$program" 2>&1)
    dynamic=$(readelf -dW "$program" 2>&1)
    headers=$(readelf -hlW "$program" 2>&1)
    if grep -Eq '[[:space:]]\.(symtab|comment)[[:space:]]' <<<"$sections"; then
        fail "$label: $program keeps a .symtab or .comment section"
    else
        pass
    fi
    [ $hardened = yes ] || return
    # Rows of where to look, what, and the extended regular expression.
    for row in "headers;PIE;Type:[[:space:]]+DYN" "headers;RELRO;GNU_RELRO" \
        "dynamic;BIND_NOW;\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW" \
        "symbols;FORTIFY;_chk@" "symbols;stack protector;__stack_chk_fail"; do
        IFS=';' read -r where what pattern <<<"$row"
        text=$headers
        [ "$where" = dynamic ] && text=$dynamic
        [ "$where" = symbols ] && text=$(readelf --dyn-syms -W "$program")
        check "$label: $program is not hardened: no $what" grep -Eq "$pattern" <<<"$text"
    done
}

# Ends the run: a failure, a skip for a missing lint tool, or a pass.
finish()
{
    if [ $failures -ne 0 ]; then
        echo "install_test $way: $failures checks failed, $checks passed" >&2
        exit 1
    fi
    if [ ${#missing_tools[@]} -ne 0 ]; then
        skip "$checks checks passed, but not found: ${missing_tools[*]}"
    fi
    echo "install_test $way: all $checks checks passed${1:+ ($1)}"
    exit 0
}

# cpack_into GENERATOR DIR: CPack builds the package in DIR, outside the
# build directory, or the run stops. GENERATOR source is the source release.
cpack_into()
{
    local what=(-G "$1")
    [ "$1" = source ] && what=(--config CPackSourceConfig.cmake)
    if ! (cd "$build" && "$cpack" "${what[@]}" -B "$2") >"$tmp/cpack.log" 2>&1; then
        cat "$tmp/cpack.log" >&2
        die "cpack -G $1 in $build failed"
    fi
}

# package GENERATOR FILE: CPack builds FILE in $tmp/package, then again in a
# later second, when a time stamp taken from the clock would differ; with
# SOURCE_DATE_EPOCH set both must have the same bytes.
package()
{
    local name start
    name=$(basename "$2")
    export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1700000000}
    cpack_into "$1" "$tmp/package"
    [ -f "$2" ] || die "cpack did not make $name; it made: $(cd "$tmp/package" && echo *.*)"
    pass
    start=$(date +%s)
    while [ "$(date +%s)" = "$start" ]; do sleep 0.1; done
    cpack_into "$1" "$tmp/again"
    check_quiet "two builds of $name with SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH differ" \
        cmp "$2" "$tmp/again/$name"
}

# package_files_are LABEL LISTING EXPECTED...: the sorted names of LISTING
# are the EXPECTED ones.
package_files_are()
{
    local label=$1 listing=$2
    shift 2
    check "$label holds (expected only $*):"$'\n'"$listing" [ "$listing" = "$(printf '%s\n' "$@")" ]
}

# --- cmake --install into a temporary prefix --------------------------------

if [ "$way" = prefix ]; then
    prefix=$tmp/prefix
    if ! "$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
        cat "$tmp/install.log" >&2
        die "cmake --install $build --prefix $prefix failed"
    fi
    package_files_are "the prefix of cmake --install" "$(list_files "$prefix")" \
        bin/volreport share/man/man1/volreport.1
    check_binary "installed" "$prefix/bin/volreport"
    [ -f "$prefix/share/man/man1/volreport.1" ] &&
        check_page "installed" "$prefix/share/man/man1/volreport.1" "$prefix/bin/volreport"
    finish
fi

# --- the source release -------------------------------------------------------

if [ "$way" = source ]; then
    tarball=$tmp/package/volreport-$version.tar.gz
    package source "$tarball"
    tar -tzf "$tarball" >"$tmp/entries" || die "tar -tzf $tarball failed"
    # The sources at the root of volreport-VERSION/, and no VCS data or build
    # directory: any has a CMakeCache.txt, and build-ci/ holds the CI logs.
    top=volreport-$version
    grep -qx "$top/CMakeLists.txt" "$tmp/entries" || fail "$tarball has no $top/CMakeLists.txt"
    bad=$(grep -v "^$top/" "$tmp/entries"
        grep -E "^$top/((fuzz-)?build[^/]*/|(.*/)?(\.git|CMakeCache\.txt)(/|\$))" "$tmp/entries")
    [ -z "$bad" ] || fail "$tarball holds what is not the sources under $top/:" "$bad"
    finish "$(basename "$tarball")"
fi

# --- the Debian package -------------------------------------------------------

if [ "$way" = deb ]; then
    arch=$(dpkg --print-architecture)
    deb=$tmp/package/volreport_${version}_${arch}.deb
    package DEB "$deb"

    # check_field NAME PATTERN: the control field matches the extended regular
    # expression PATTERN as a whole.
    check_field()
    {
        local value
        value=$(dpkg-deb -f "$deb" "$1")
        check "package field $1 is \"$value\", expected to match $2" grep -Eqx -- "$2" <<<"$value"
    }
    check_field Package 'volreport'
    check_field Version "${version//./\\.}"
    check_field Architecture "$arch"
    check_field Section 'utils'
    check_field Priority 'optional'
    check_field Maintainer '[^<>]+ <[^<>@ ]+@[^<>@ ]+>'
    # dpkg-shlibdeps gives the minimum version of each library the program
    # links. A release build links only the C library; a sanitizer build also
    # links the sanitizers' run-time libraries.
    needed=$(readelf -d "$build/volreport" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
    if [ -z "$needed" ] || [ "$needed" = libc.so.6 ]; then
        check_field Depends 'libc6 \(>= [0-9][0-9.]*\)'
    else
        echo "install_test: $build/volreport links $(tr "\n" " " <<<"$needed")so Depends need only include libc6"
        check_field Depends '(.+, )?libc6 \(>= [0-9][0-9.]*\)(, .+)?'
    fi
    description=$(dpkg-deb -f "$deb" Description)
    check "package Description needs a summary line and a long description; it is: $description" \
        [ "$(printf '%s\n' "$description" | wc -l)" -ge 2 ]

    # The program, the gzipped page, the copyright file and the changelog,
    # owned by root.
    contents=$(dpkg-deb -c "$deb")
    package_files_are "the Debian package" \
        "$(printf '%s\n' "$contents" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)" \
        ./usr/bin/volreport ./usr/share/doc/volreport/changelog.gz \
        ./usr/share/doc/volreport/copyright \
        ./usr/share/man/man1/volreport.1.gz
    check "package files not owned by root/root:"$'\n'"$contents" \
        awk '$2 != "root/root" { bad = 1 } END { exit bad }' <<<"$contents"

    root=$tmp/root
    dpkg-deb -x "$deb" "$root" || die "dpkg-deb -x $deb failed"
    check_unpacked "packaged" "$root"

    # The copyright file is machine-readable and carries LICENSE whole; the
    # changelog's newest entry is this version's.
    doc=$root/usr/share/doc/volreport
    if [ "$(head -n 1 "$doc/copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] &&
        grep -qx 'License: MIT' "$doc/copyright" &&
        diff <(sed -n '/^Permission/,$p' "$source/LICENSE") \
            <(sed -n '/^ Permission/,$p' "$doc/copyright" | sed 's/^ //; s/^\.$//') >/dev/null; then
        pass
    else
        fail "$doc/copyright is not a DEP-5 copyright file with the MIT licence of $source/LICENSE"
    fi
    if check_gzip "packaged" "$doc/changelog.gz"; then
        first=$(gzip -dc "$doc/changelog.gz" | head -n 1)
        check "the changelog's first line is \"$first\", not the entry of $version" \
            [ "$first" = "volreport ($version) unstable; urgency=medium" ]
    fi

    # lintian's tags, of any severity, are findings; only a hardened
    # optimised build can be free of its hardening tags.
    if [ $hardened = no ]; then
        echo "install_test: $build is not a hardened optimised build: lintian not run"
    elif lint_tool lintian lintian; then
        lintian --pedantic --display-info --display-experimental --tag-display-limit 0 "$deb" >"$tmp/lintian.out" 2>"$tmp/lintian.err"
        status=$?
        if [ $status -ne 0 ] || [ -s "$tmp/lintian.out" ]; then
            fail "lintian --pedantic --display-info --display-experimental $(basename "$deb"): exit status $status:"
            cat "$tmp/lintian.out" "$tmp/lintian.err" >&2
        else
            pass
        fi
    fi
    finish "$(basename "$deb")"
fi

# --- the RPM ------------------------------------------------------------------

rpm_file=$tmp/package/volreport-${version}-1.$(uname -m).rpm
package RPM "$rpm_file"
# The header as the Debian package's control fields: the maintainer as the
# packager and in the newest changelog entry, the home page, a summary, and
# no prefix to relocate to.
maintainer=$(cache_value VOLREPORT_MAINTAINER)
for row in "LICENSE=MIT" "PACKAGER=$maintainer" "URL=$(cache_value VOLREPORT_URL)" \
    "CHANGELOGNAME=$maintainer - $version-1" "PREFIXES=(none)"; do
    value=$(rpm -qp --queryformat "%{${row%%=*}}" "$rpm_file" 2>"$tmp/rpm.err")
    if [ "$value" = "${row#*=}" ] && [ -n "$value" ]; then
        pass
    else
        fail "the RPM's ${row%%=*} is \"$value\", not \"${row#*=}\" $(cat "$tmp/rpm.err")"
    fi
done
summary=$(rpm -qp --queryformat '%{SUMMARY}' "$rpm_file")
check "the RPM's Summary \"$summary\" does not begin with a capital letter" \
    [ "$summary" != "${summary#[A-Z]}" ]
root=$tmp/root
mkdir "$root"
(cd "$root" && rpm2cpio "$rpm_file" | cpio -idm --quiet) 2>"$tmp/cpio.err" ||
    die "rpm2cpio $rpm_file | cpio -idm failed: $(cat "$tmp/cpio.err")"
package_files_are "the RPM" "$(list_files "$root")" \
    usr/bin/volreport usr/share/licenses/volreport/LICENSE usr/share/man/man1/volreport.1.gz
check "the RPM's /usr/share/licenses/volreport/LICENSE is not $source/LICENSE" \
    cmp -s "$source/LICENSE" "$root/usr/share/licenses/volreport/LICENSE"
check_unpacked "rpm" "$root"

# rpmlint's findings, of any severity, fail the test; cmake/rpmlint.toml
# leaves out what is not the package's fault.
if lint_tool rpmlint rpmlint; then
    rpmlint -c "$source/cmake/rpmlint.toml" "$rpm_file" >"$tmp/rpmlint.out" 2>&1
    status=$?
    if [ $status -ne 0 ] || ! grep -q '; 0 errors, 0 warnings, ' "$tmp/rpmlint.out"; then
        fail "rpmlint -c cmake/rpmlint.toml $(basename "$rpm_file"): exit status $status:"
        cat "$tmp/rpmlint.out" >&2
    else
        pass
    fi
fi
finish "$(basename "$rpm_file")"
