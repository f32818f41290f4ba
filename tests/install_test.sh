#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end checks of what a user installs: `cmake --install` into a
# temporary prefix, the Debian package built by CPack and unpacked with
# dpkg-deb, and the manual page as groff renders it. Each installed binary
# must give the same reports as the built one, and the page must have every
# section and document the binary's own usage line, help text and messages.
#
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
# CMAKE and CPACK may name the cmake and cpack programs to use.
set -uo pipefail

usage="usage: install_test.sh BUILD_DIR SOURCE_DIR"
[ $# -eq 2 ] || { echo "$usage" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
source=$(cd "$2" && pwd) || exit 2
cmake=${CMAKE:-cmake}
cpack=${CPACK:-cpack}

failures=0
checks=0

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

# Ends the run at once: nothing after this check can be tested.
die()
{
    echo "FAIL: $*" >&2
    echo "install_test: stopped after $checks checks passed" >&2
    exit 1
}

need_tool()
{
    command -v "$1" >/dev/null || die "$1 not found: install the Debian package $2"
}
need_tool "$cmake" cmake
need_tool "$cpack" cmake
need_tool dpkg dpkg
need_tool dpkg-deb dpkg
need_tool dpkg-shlibdeps dpkg-dev
need_tool file file
need_tool gzip gzip
need_tool groff groff-base

tmp=$(mktemp -d "${TMPDIR:-/tmp}/volreport-install.XXXXXX") || die "cannot make a temporary directory"
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' HUP INT TERM

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
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

# Shows the difference between the expected and the actual file.
show_diff()
{
    diff -u "$1" "$2" | head -n 20 >&2
}

# check_binary LABEL PROGRAM: PROGRAM gives the reference reports, from a
# named file and from standard input, and its own name in the usage line.
check_binary()
{
    local label=$1 program=$2 actual=$tmp/actual status
    [ -x "$program" ] || { fail "$label: $program is not an executable file"; return; }

    "$program" "$listing" >"$actual" 2>"$tmp/stderr"
    status=$?
    if [ $status -ne 0 ] || [ -s "$tmp/stderr" ]; then
        fail "$label: $program $listing: exit status $status, standard error: $(cat "$tmp/stderr")"
    elif ! cmp -s "$tmp/expected.default" "$actual"; then
        fail "$label: $program $listing differs from $build/volreport (expected, actual):"
        show_diff "$tmp/expected.default" "$actual"
    else
        pass
    fi

    "$program" -rbf <"$listing" >"$actual" 2>"$tmp/stderr"
    status=$?
    if [ $status -ne 0 ] || [ -s "$tmp/stderr" ]; then
        fail "$label: $program -rbf <$listing: exit status $status, standard error: $(cat "$tmp/stderr")"
    elif ! cmp -s "$tmp/expected.all" "$actual"; then
        fail "$label: $program -rbf <$listing differs from $build/volreport -rbf (expected, actual):"
        show_diff "$tmp/expected.all" "$actual"
    else
        pass
    fi

    local expected_usage="Usage: $program [-rwbnfh] [ input-file [ output-file ]]"
    "$program" -x >"$actual" 2>"$tmp/stderr"
    status=$?
    if [ $status -ne 2 ] || [ -s "$actual" ] || [ "$(cat "$tmp/stderr")" != "$expected_usage" ]; then
        fail "$label: $program -x: expected exit status 2 and \"$expected_usage\", got status $status and \"$(cat "$tmp/stderr")\""
    else
        pass
    fi
}

# Each line of the rendered page, with its leading white space removed, is
# one line of $tmp/page.lines, for whole-line matches of the text.
render_page()
{
    groff -man -Tutf8 -P-cbou -rLL=200n "$1" >"$tmp/page.txt" 2>"$tmp/groff.err"
    sed 's/^[[:space:]]*//; s/[[:space:]]*$//' "$tmp/page.txt" >"$tmp/page.lines"
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

    if ! head -n 5 "$page" | grep -Eq "^\.TH VOLREPORT 1 [^ ]+ \"volreport $version\" "; then
        fail "$label: $page has no .TH line naming \"volreport $version\": $(grep -m1 '^\.TH' "$page")"
    else
        pass
    fi

    if ! groff -man -Tutf8 -ww -z "$page" >"$tmp/warnings" 2>&1 || [ -s "$tmp/warnings" ]; then
        fail "$label: groff -man -Tutf8 -ww -z $page warns:"
        cat "$tmp/warnings" >&2
    else
        pass
    fi

    if command -v mandoc >/dev/null; then
        mandoc -T lint "$page" >"$tmp/lint" 2>&1
        if [ -s "$tmp/lint" ]; then
            fail "$label: mandoc -T lint $page:"
            cat "$tmp/lint" >&2
        else
            pass
        fi
    else
        echo "install_test: mandoc not installed (Debian package mandoc): lint of $page skipped"
    fi

    render_page "$page"
    if [ -s "$tmp/groff.err" ] || [ ! -s "$tmp/page.txt" ]; then
        fail "$label: groff could not render $page: $(cat "$tmp/groff.err")"
        return
    fi
    local section
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "INPUT FORMAT" "OUTPUT FORMAT" \
        "EXIT STATUS" DIAGNOSTICS EXAMPLES "SEE ALSO"; do
        # A section heading is a line of its own at the left margin.
        if grep -Fxq -- "$section" "$tmp/page.txt"; then
            pass
        else
            fail "$label: $page has no section \"$section\""
        fi
    done

    local synopsis
    synopsis=$(sed -n '/^SYNOPSIS$/{n;p;q}' "$tmp/page.lines")
    if [ "$synopsis" != "volreport [-rwbnfh] [ input-file [ output-file ]]" ]; then
        fail "$label: the SYNOPSIS of $page is \"$synopsis\", not the usage line's command line"
    else
        pass
    fi

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

# expect_message ACTUAL DOCUMENTED ARGS...: $program run with ARGS exits
# with status 2 and writes the line ACTUAL on standard error, and $page has
# the line DOCUMENTED (with $label, $page and $program of check_page). An
# argument "<FILE" or ">FILE" redirects standard input or output.
expect_message()
{
    local actual=$1 documented=$2
    shift 2
    local args=() in=/dev/null out=/dev/null arg status
    for arg in "$@"; do
        case $arg in
        "<"*) in=${arg#<} ;;
        ">"*) out=${arg#>} ;;
        *) args+=("$arg") ;;
        esac
    done
    "$program" "${args[@]}" <"$in" >"$out" 2>"$tmp/stderr"
    status=$?
    if [ $status -ne 2 ] || [ "$(cat "$tmp/stderr")" != "$actual" ]; then
        fail "$label: $program $*: expected exit status 2 and \"$actual\", got status $status and \"$(cat "$tmp/stderr")\""
    elif ! page_has_line "$documented"; then
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

# --- cmake --install into a temporary prefix --------------------------------

prefix=$tmp/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log" >&2
    die "cmake --install $build --prefix $prefix failed"
fi
expected_files=$'bin/volreport\nshare/man/man1/volreport.1'
installed_files=$(list_files "$prefix")
if [ "$installed_files" != "$expected_files" ]; then
    fail "cmake --install installed (expected only bin/volreport and share/man/man1/volreport.1):"
    printf '%s\n' "$installed_files" >&2
else
    pass
fi
check_binary "installed" "$prefix/bin/volreport"
[ -f "$prefix/share/man/man1/volreport.1" ] &&
    check_page "installed" "$prefix/share/man/man1/volreport.1" "$prefix/bin/volreport"

# --- the Debian package -------------------------------------------------------

# -B keeps the package and CPack's staging tree out of the build directory.
if ! (cd "$build" && "$cpack" -G DEB -B "$tmp/package") >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log" >&2
    die "cpack -G DEB in $build failed"
fi
arch=$(dpkg --print-architecture)
deb=$tmp/package/volreport_${version}_${arch}.deb
[ -f "$deb" ] || die "cpack did not make $(basename "$deb"); it made: $(cd "$tmp/package" && echo *.deb)"
pass

# check_field NAME PATTERN: the control field matches the extended regular
# expression PATTERN as a whole.
check_field()
{
    local value
    value=$(dpkg-deb -f "$deb" "$1")
    if printf '%s' "$value" | grep -Eqx -- "$2"; then
        pass
    else
        fail "package field $1 is \"$value\", expected to match $2"
    fi
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
summary=$(printf '%s\n' "$description" | head -n 1)
if [ -z "$summary" ] || [ "$(printf '%s\n' "$description" | wc -l)" -lt 2 ]; then
    fail "package Description needs a summary line and a long description; it is: $description"
else
    pass
fi

# Only the program and the gzipped page, owned by root.
contents=$(dpkg-deb -c "$deb")
packaged_files=$(printf '%s\n' "$contents" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)
if [ "$packaged_files" != $'./usr/bin/volreport\n./usr/share/man/man1/volreport.1.gz' ]; then
    fail "the package holds (expected only ./usr/bin/volreport and ./usr/share/man/man1/volreport.1.gz):"
    printf '%s\n' "$packaged_files" >&2
else
    pass
fi
if printf '%s\n' "$contents" | awk '$2 != "root/root" { bad = 1 } END { exit bad }'; then
    pass
else
    fail "package files not owned by root/root:"
    printf '%s\n' "$contents" >&2
fi

root=$tmp/root
dpkg-deb -x "$deb" "$root" || die "dpkg-deb -x $deb failed"
check_binary "packaged" "$root/usr/bin/volreport"

page_gz=$root/usr/share/man/man1/volreport.1.gz
if [ ! -f "$page_gz" ]; then
    fail "the package has no /usr/share/man/man1/volreport.1.gz"
elif ! gzip -t "$page_gz" 2>"$tmp/gzip.err"; then
    fail "$page_gz is not a valid gzip file: $(cat "$tmp/gzip.err")"
else
    # gzip -n: no file name (flag byte 0) and no time stamp (4 zero bytes).
    header=$(od -An -tu1 -j3 -N5 "$page_gz" | tr -s ' ' | sed 's/^ //; s/ $//')
    if [ "$header" != "0 0 0 0 0" ]; then
        fail "$page_gz keeps a file name or a time stamp (gzip header flag and time bytes: $header)"
    else
        pass
    fi
    gzip -dc "$page_gz" >"$tmp/packaged.1"
    if [ -f "$prefix/share/man/man1/volreport.1" ] && ! cmp -s "$prefix/share/man/man1/volreport.1" "$tmp/packaged.1"; then
        fail "the packaged page differs from the one cmake --install installs"
    else
        pass
    fi
    check_page "packaged" "$tmp/packaged.1" "$root/usr/bin/volreport"
fi

if [ $failures -ne 0 ]; then
    echo "install_test: $failures checks failed, $checks passed" >&2
    exit 1
fi
echo "install_test: all $checks checks passed ($(basename "$deb"))"
