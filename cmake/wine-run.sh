#!/bin/sh
# Runs a Windows program under 64-bit Wine with the compiler's runtime DLLs on
# its search path (not with WEXAL_WINE_OWN_DLLS=1: then the program finds only
# the DLLs beside it, as on a machine without the compiler). (The plain `wine`
# wrapper looks for a 32-bit loader first.)
WINEDEBUG=${WINEDEBUG:--all}
if [ "${WEXAL_WINE_OWN_DLLS:-0}" != 1 ]; then
    WINEPATH="/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib${WINEPATH:+;$WINEPATH}"
fi
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
