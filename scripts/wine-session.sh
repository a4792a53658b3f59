#!/usr/bin/env bash
# Starts or stops the Wine session that the tests share: an Xvfb display when none is set, the
# prefix inside the build tree (made on first use, reused after; 64-bit or 32-bit as the tree is,
# from its wine-arch file) and one persistent wineserver kept for the whole run.
#   wine-session.sh start|stop|prefix BUILD_DIR
set -u
action=$1
build=$(cd "$2" && pwd)
session=$build/wine-session
export WINEPREFIX=${KESTRIX_WINEPREFIX:-$session/prefix}
WINEARCH=win32
WINE=wine
[ -f "$build/wine-arch" ] && . "$build/wine-arch"
export WINEARCH
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
mkdir -p "$session"

make_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-session: creating the Wine prefix $WINEPREFIX"
    "$WINE" wineboot.exe -i </dev/null >/dev/null 2>&1
    wineserver -w
  fi
}

start_display() {
  # A session already started for this build tree (by the test fixture, or a script run inside
  # it) is reused, so that its Xvfb is the one stopped at the end.
  if [ -f "$session/xvfb.pid" ] && [ -f "$session/display" ] &&
     pgrep -f "^Xvfb $(cat "$session/display") " >/dev/null; then
    return
  fi
  if [ -n "${DISPLAY:-}" ]; then
    echo "$DISPLAY" > "$session/display"
    return
  fi
  for n in $(seq 90 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    setsid Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! > "$session/xvfb.pid"
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
    echo ":$n" > "$session/display"
    echo "wine-session: started Xvfb on :$n"
    return
  done
  echo "wine-session: no free display number" >&2
  exit 1
}

case $action in
  prefix)
    make_prefix ;;
  start)
    start_display
    export DISPLAY=$(cat "$session/display")
    make_prefix
    # started detached from our output, or ctest would wait for it to close
    wineserver -p </dev/null >/dev/null 2>&1
    # Wine's own services start with the first program and live as long as the wineserver;
    # start them here, detached from our output, so no test's output pipe is held open by them.
    "$WINE" wineboot.exe </dev/null >/dev/null 2>&1
    echo "wine-session: wineserver running for $WINEPREFIX on $DISPLAY" ;;
  stop)
    wineserver -k 2>/dev/null
    if [ -f "$session/xvfb.pid" ]; then
      kill "$(cat "$session/xvfb.pid")" 2>/dev/null
      # setsid may have forked, leaving the recorded pid to a parent that is already gone.
      pkill -f "^Xvfb $(cat "$session/display") " 2>/dev/null
      rm -f "$session/xvfb.pid" "$session/display"
      echo "wine-session: stopped Xvfb"
    fi
    echo "wine-session: stopped" ;;
  *)
    echo "usage: wine-session.sh start|stop|prefix BUILD_DIR" >&2; exit 2 ;;
esac
