#!/usr/bin/env bash
# Fails when a file or socket in src/ is opened without close-on-exec. A
# descriptor without it is inherited by every program we start (the mount
# helper a format runs, a restart's shell), and a helper that holds a take or
# a backup file open keeps its card busy: it cannot be unmounted or
# formatted. Qt's own files and sockets set the flag themselves; the calls
# checked here are ours:
#   ::open / openat / creat          need O_CLOEXEC
#   fopen / fdopen / freopen         need an "e" in the mode
#   socket / socketpair              need SOCK_CLOEXEC
#   eventfd / inotify_init1          need EFD_CLOEXEC / IN_CLOEXEC
#   pipe, accept, dup, dup2, mkstemp, sf_open, std::*fstream
#                                    never set it: use pipe2, accept4, dup3 or
#                                    F_DUPFD_CLOEXEC, mkostemp, sf_open_fd, a
#                                    FILE* opened with "e"
# A call is read on its own line; comment lines are skipped. Lists each
# offender.
#
# usage: check-cloexec.sh [project root]   (default: this script's project)
set -euo pipefail

root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
[[ -d "$root/src" ]] || { echo "check-cloexec: no $root/src" >&2; exit 2; }

# One awk over every file: a shell loop per line took minutes on a loaded
# machine. A rule is a pattern and the flag that makes a matching line pass
# (none: nothing does).
lines=$(find "$root/src" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \) -print0 | sort -z |
    xargs -0 -r awk -v root="$root/" '
    BEGIN {
        n = 0
        pattern[++n] = "(^|[^[:alnum:]_])::(open|openat|creat)[[:space:]]*\\(|[=(,!][[:space:]]*(open|openat|creat)[[:space:]]*\\("; flag[n] = "O_CLOEXEC"
        pattern[++n] = "(^|[^[:alnum:]_.>])(socket|socketpair)[[:space:]]*\\("; flag[n] = "SOCK_CLOEXEC"
        pattern[++n] = "(^|[^[:alnum:]_.>])eventfd[[:space:]]*\\("; flag[n] = "EFD_CLOEXEC"
        pattern[++n] = "(^|[^[:alnum:]_.>])inotify_init1?[[:space:]]*\\("; flag[n] = "IN_CLOEXEC"
        pattern[++n] = "(^|[^[:alnum:]_.>:])(pipe|dup|dup2|mkstemp|sf_open)[[:space:]]*\\(|(^|[^[:alnum:]_])::(pipe|dup|dup2|accept)[[:space:]]*\\("; flag[n] = ""
        pattern[++n] = "std::(i|o)?fstream"; flag[n] = ""
        fopenCall = "(^|[^[:alnum:]_])(fopen|fdopen|freopen)[[:space:]]*\\("
    }
    FNR == 1 { file = substr(FILENAME, length(root) + 1) }
    /^[[:space:]]*\/\// { next }
    {
        bad = 0
        for (i = 1; i <= n; ++i)
            if ($0 ~ pattern[i] && (flag[i] == "" || index($0, flag[i]) == 0))
                bad = 1
        if (match($0, fopenCall)) {
            # every string literal after the call (the mode) needs an "e"
            rest = substr($0, RSTART + RLENGTH)
            literals = 0
            while (match(rest, /"[^"]*"/)) {
                ++literals
                if (index(substr(rest, RSTART, RLENGTH), "e") == 0)
                    bad = 1
                rest = substr(rest, RSTART + RLENGTH)
            }
            if (literals == 0)
                bad = 1
        }
        if (bad) {
            line = $0
            sub(/^[[:space:]]+/, "", line)
            print file ":" FNR ": opened without close-on-exec: " line
        }
    }
    ')
offenders=0
if [[ -n "$lines" ]]; then
    echo "$lines"
    offenders=$(wc -l <<<"$lines")
fi
checked=$(find "$root/src" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \) | wc -l)

if [[ $offenders -gt 0 ]]; then
    echo "check-cloexec: $offenders call(s) open without close-on-exec in $checked files"
    exit 1
fi
echo "check-cloexec: $checked files, every file and socket is opened close-on-exec"
