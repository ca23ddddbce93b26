#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The files the desktop and packagers read, checked by their own tools: the desktop entry, the AppStream
# metainfo, the man pages, and the bash completion of sondrel-cli.
set -euo pipefail
root=$1
failed=0
check() { # NAME COMMAND...: runs the check, says what failed
    if ! out=$("${@:2}" 2>&1); then
        echo "FAILED: $1"
        echo "$out"
        failed=1
    fi
}
check "desktop-file-validate" desktop-file-validate "$root/data/io.github.ombrel.Sondrel.desktop"
grep -qx 'MimeType=x-content/audio-cdda;' "$root/data/io.github.ombrel.Sondrel.desktop" || { echo "FAILED: no audio CD MimeType"; failed=1; }
check "appstreamcli validate" appstreamcli validate --no-net "$3"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$3" || { echo "FAILED: the metainfo names no licence"; failed=1; }
# The licence: its text, and a line naming it in every source file.
grep -q 'GNU GENERAL PUBLIC LICENSE' "$root/LICENSE" || { echo "FAILED: no LICENSE"; failed=1; }
unmarked=$(cd "$root" && find src tests bench fuzz scripts \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.py' \) \
    -exec grep -L 'SPDX-License-Identifier: GPL-3.0-or-later' {} + || true)
[ -z "$unmarked" ] || { echo "FAILED: no licence line in: $unmarked"; failed=1; }
for page in sondrel sondrel-cli; do
    # groff's warnings (-ww) turn into failures: a page that renders with complaints is not right.
    warnings=$(groff -man -ww -z "$root/docs/$page.1" 2>&1 || true)
    [ -z "$warnings" ] || { echo "FAILED: $page.1: $warnings"; failed=1; }
done
# The completion offers the commands, the formats after -f, and the options of a command.
# shellcheck disable=SC1091
source "$root/data/completion/sondrel-cli"
complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=(); _sondrel_cli; echo "${COMPREPLY[*]}"; }
[ "$(complete_words sondrel-cli ri)" = "rip" ] || { echo "FAILED: completion of a command"; failed=1; }
[ "$(complete_words sondrel-cli rip -f fl)" = "flac" ] || { echo "FAILED: completion of a format"; failed=1; }
[[ " $(complete_words sondrel-cli rip --ver) " == *" --verify "* ]] || { echo "FAILED: completion of an option"; failed=1; }
# Every command of the tool's own help is offered.
for command in $("$2" --help | awk '/^  [a-z]/ {print $1}' | sort -u); do
    [[ " $(complete_words sondrel-cli "$command") " == *" $command "* ]] || { echo "FAILED: completion lacks $command"; failed=1; }
done
exit $failed
