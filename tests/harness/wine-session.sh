#!/bin/sh
# Starts and stops the Wine environment that one test run owns: an Xvfb display,
# an initialised prefix and one persistent wineserver, so that each test binary
# costs one Wine process and no cold server start.
#
#   wine-session.sh start STATE_DIR win32|win64
#   wine-session.sh stop  STATE_DIR
# With KELVO_DISPLAY set (e.g. :0) that display is used instead of an Xvfb.
# Test binaries are then run through wine-run.sh STATE_DIR.
set -eu
cmd=$1
state=$2

stop() {
    if [ -f "$state/env" ]; then
        . "$state/env"
        "$KELVO_WINESERVER" -k >/dev/null 2>&1 || true
    fi
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
        rm -f "$state/xvfb.pid"
    fi
}

case "$cmd" in
stop)
    stop
    exit 0
    ;;
start)
    arch=$3
    ;;
*)
    echo "usage: $0 start STATE_DIR win32|win64 | stop STATE_DIR" >&2
    exit 2
    ;;
esac

stop
mkdir -p "$state"
state=$(cd "$state" && pwd)

if [ "$arch" = win32 ]; then
    loader=/usr/lib/wine/wine
    server=/usr/lib/wine/wineserver32
    [ -x "$server" ] || server=/usr/lib/wine/wineserver
else
    loader=/usr/lib/wine/wine64
    server=/usr/lib/wine/wineserver64
    [ -x "$server" ] || server=/usr/lib/wine/wineserver
fi

if [ -n "${KELVO_DISPLAY:-}" ]; then
    # A real display was asked for (the demo with a user at the screen).
    display=${KELVO_DISPLAY#:}
else
# A display number nobody uses; the lock file is what Xvfb itself checks.
display=
n=90
while [ $n -lt 190 ]; do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=$n
        break
    fi
    n=$((n + 1))
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }

Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
echo $! >"$state/xvfb.pid"
i=0
while [ ! -e "/tmp/.X11-unix/X$display" ]; do
    i=$((i + 1))
    [ $i -lt 100 ] || { echo "Xvfb did not start" >&2; cat "$state/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
fi

cat >"$state/env" <<ENV
export WINEPREFIX="$state/prefix"
export WINEARCH=$arch
export WINELOADER=$loader
export WINESERVER=$server
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=:$display
export KELVO_WINE=$loader
export KELVO_WINESERVER=$server
ENV
. "$state/env"

# Output goes to files: a wineserver that inherits a pipe keeps it open and
# whoever reads the pipe waits for ever.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$KELVO_WINE" wineboot -i >"$state/wineboot.log" 2>&1 </dev/null
    if [ -z "${KELVO_DISPLAY:-}" ]; then
        # A virtual desktop: with no window manager on Xvfb, Wine then draws
        # the window frames itself, so screenshots show captions and borders.
        "$KELVO_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
            >>"$state/wineboot.log" 2>&1 </dev/null
        "$KELVO_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f \
            >>"$state/wineboot.log" 2>&1 </dev/null
    fi
    "$KELVO_WINESERVER" -w
fi
# Chinese text under a Western code page: Windows draws it through font links
# and Uniscribe's fallback to a CJK font; a fresh Wine prefix has neither for
# the fonts it really draws with, and shows boxes. Debian's WenQuanYi Micro Hei
# (fonts-wqy-microhei) is made that font, once per prefix:
# - linked to "DejaVu Sans", the face Wine without its own Tahoma draws dialog
#   text with (links under Wine's own font names would not last: Wine
#   rewrites them whenever a process starts under another code page);
# - named as Uniscribe's fallback for the script tag 'hani', where the edit
#   control's drawing takes Han characters from, past the font links.
if [ ! -f "$WINEPREFIX/kelvo-fontlink.done" ]; then
    # hex(7): the value's strings, each ending in a NUL, then one more NUL;
    # bytes in the ANSI code page, since the file is an ANSI one.
    link=$(printf 'wqy-microhei.ttc,WenQuanYi Micro Hei\0\0' |
        od -An -v -tx1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//; s/ /,/g')
    {
        printf 'REGEDIT4\r\n\r\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
        printf '"DejaVu Sans"=hex(7):%s\r\n' "$link"
        printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Uniscribe\\Fallback]\r\n'
        printf '"696e6168"="WenQuanYi Micro Hei"\r\n'
    } >"$state/fontlink.reg"
    "$KELVO_WINE" regedit /S "Z:$(printf '%s' "$state/fontlink.reg" | tr / '\\')" >>"$state/wineboot.log" 2>&1 </dev/null
    "$KELVO_WINESERVER" -w
    touch "$WINEPREFIX/kelvo-fontlink.done"
fi
"$KELVO_WINESERVER" -p >"$state/wineserver.log" 2>&1 </dev/null &
# Wait until the server answers, bounded.
i=0
until "$KELVO_WINE" cmd /c exit >>"$state/wineboot.log" 2>&1 </dev/null; do
    i=$((i + 1))
    [ $i -lt 20 ] || { echo "wineserver did not come up" >&2; exit 1; }
    sleep 0.5
done
echo "wine session ready: $arch prefix $WINEPREFIX on display :$display"
