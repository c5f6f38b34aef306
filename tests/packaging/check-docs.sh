#!/usr/bin/env bash
# The man page and the bash completion are written by hand, so they drift when an option is added: every
# option that --help lists must appear in both. And the packages are named by the build's version, which
# must be what --version prints.
# Usage: check-docs.sh PROGRAM MAN-PAGE-SOURCE COMPLETION VERSION
set -euo pipefail
program=$1 man_page=$2 completion=$3 version=$4
failed=0
miss() {
    echo "$1"
    failed=1
}

printed=$("$program" --version)
[ "$printed" = "tarnserialport $version" ] || miss "--version prints '$printed', the packages say $version"

man_text=$(sed 's/\\-/-/g' "$man_page") # roff writes a minus as \-
options=$("$program" --help | grep -oE '^ +(-[a-zA-Z], )?--[a-z][a-z-]*' | grep -oE -- '--?[a-zA-Z][a-z-]*')
[ -n "$options" ] || miss "no option found in --help"
for option in $options; do
    # The whole option: --log must not be found in --log-priority, nor -h in --help.
    word="(^|[^a-zA-Z-])$option([^a-zA-Z-]|$)"
    grep -qE -- "$word" <<<"$man_text" || miss "$option is in --help but not in the man page $man_page"
    grep -qE -- "$word" "$completion" || miss "$option is in --help but not in the completion $completion"
done
exit $failed
