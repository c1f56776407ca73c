#!/bin/sh
# The streams example on a real terminal: it runs in a tmux pane (a
# pseudo-terminal; a Windows build run there under Wine gets a Wine console),
# a line is typed into it, and the screen is read back and checked.
#
#   streams_console_test.sh [--show] command [args...]
#
# Checks, in this order:
# - before anything is typed: cout's line (flushed by cerr's tie), cerr's line
#   (unit-buffered) and the prompt (flushed by cin's tie) are on the screen;
#   clog's line is not on a Wine console (buffered until exit), and is on a
#   Linux terminal (clog goes through std::cerr there, as it would to a pipe);
# - after a non-ASCII line is typed: the program read it as UTF-8 (its bytes
#   in hex, and no CR) and exited with 0; on a Wine console clog's line came
#   out at exit, last.
# --show prints the final screen (make demo uses it).
set -u

show=0
if [ "${1:-}" = "--show" ]; then
    show=1
    shift
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [--show] command [args...]" >&2
    exit 2
fi
# A Windows program run under Wine has a console; a Linux one a terminal.
case "$1" in
*wine-run.sh) console=1 ;;
*) console=0 ;;
esac
if ! command -v tmux >/dev/null 2>&1; then
    echo "tmux is needed to run a program on a terminal (make deps installs it)" >&2
    exit 1
fi

# A server of our own, so that nothing else running tmux is touched.
socket="wexal-streams-$$"
tm() { tmux -u -L "$socket" -f /dev/null "$@"; }
# The server leaves its socket behind; remove it too.
cleanup() {
    tm kill-server >/dev/null 2>&1
    rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$socket"
}
trap cleanup EXIT INT TERM

# Quote each argument for the pane's shell.
command=""
for arg in "$@"; do
    command="$command '$(printf '%s' "$arg" | sed "s/'/'\\\\''/g")'"
done

# The pane starts with a shell and stays open once the program has ended;
# only then is the program started. Its exit status is written to the screen
# after it (tmux's own record of it is not always there under Wine).
tm new-session -d -s streams -x 160 -y 40 || exit 1
tm set-option -g remain-on-exit on
tm respawn-pane -k -t streams "LC_ALL=C.UTF-8 $command; echo \"[exit status \$?]\""

screen() { tm capture-pane -p -J -S - -t streams; }

# wait_for SECONDS TEST...: polls until the test succeeds or time runs out.
wait_for() {
    limit=$(($1 * 5))
    shift
    i=0
    while [ $i -lt $limit ]; do
        if "$@"; then return 0; fi
        sleep 0.2
        i=$((i + 1))
    done
    return 1
}
has_prompt() { screen | grep -qF 'Type a line:'; }
has_ended() { screen | grep -qF '[exit status '; }

failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}
expect_line() {  # expect_line TEXT WHAT: the screen has a line holding TEXT
    if ! printf '%s\n' "$current" | grep -qF -- "$1"; then fail "$2: no line with '$1'"; fi
}
line_number() { printf '%s\n' "$current" | grep -nF -- "$1" | head -n 1 | cut -d: -f1; }

# Wine's first start in a fresh prefix can take a while.
if ! wait_for 120 has_prompt; then
    echo "the program never showed its prompt; the screen:" >&2
    screen >&2
    exit 1
fi
current=$(screen)
expect_line 'cout: Grüße, 世界' "cout's line, flushed before cerr writes"
expect_line 'cerr: ¡at once!' "cerr's line, shown at once"
if [ $console -eq 1 ]; then
    if printf '%s\n' "$current" | grep -qF 'clog:'; then fail "clog's line showed before the program ended"; fi
else
    expect_line 'clog: adiós, written at exit' "clog's line, shown at once through std::cerr"
fi

tm send-keys -t streams -l 'héllo 世界 😀'
tm send-keys -t streams Enter
if ! wait_for 60 has_ended; then fail "the program did not end after the line was typed"; fi
current=$(screen)
expect_line '[exit status 0]' "the program's exit status"
expect_line 'You typed: héllo 世界' "the typed line, read back"
printf '%s\n' "$current" | grep -qxF 'as UTF-8: 68 C3 A9 6C 6C 6F 20 E4 B8 96 E7 95 8C 20 F0 9F 98 80' || fail "the typed bytes, no CR"
expect_line 'clog: adiós, written at exit' "clog's line"
typed=$(line_number 'as UTF-8:')
logged=$(line_number 'clog: adi')
if [ $console -eq 1 ] && [ -n "$typed" ] && [ -n "$logged" ] && [ "$logged" -le "$typed" ]; then
    fail "clog's line came before the program's last output"
fi

if [ $show -eq 1 ] || [ $failures -ne 0 ]; then
    # The screen without tmux's own status line and the blank rows.
    printf '%s\n' "$current" | grep -v -e '^Pane is dead' -e '^$'
fi
[ $failures -eq 0 ] || exit 1
echo "streams on a terminal: all checks passed"
