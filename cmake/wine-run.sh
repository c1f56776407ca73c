#!/bin/sh
# Runs a Windows program under 64-bit Wine with the compiler's runtime DLLs on
# its search path. (The plain `wine` wrapper looks for a 32-bit loader first.)
WINEDEBUG=${WINEDEBUG:--all}
WINEPATH="/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib${WINEPATH:+;$WINEPATH}"
# No Mono or Gecko: the tests need neither, and their installers would prompt.
WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree=;mshtml=}
export WINEDEBUG WINEPATH WINEDLLOVERRIDES

# Wine's background services inherit the output of the process that starts
# them and outlive it, so a caller reading our output through a pipe would
# wait for them. Start a persistent server and the services once, detached;
# when they already run, this takes a fraction of a second.
wineserver -p </dev/null >/dev/null 2>&1
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1

exec /usr/lib/wine/wine64 "$@"
