#!/bin/sh
# Prints win32 when this host can run 32-bit Wine, else win64. Some kernels
# refuse 32-bit executables altogether; the Wine tests then run the same
# sources built for x86_64 under a 64-bit prefix. KELVO_WINE_ARCH=win64
# takes that path on any host, to check it where 32-bit code runs too.
if [ -n "${KELVO_WINE_ARCH:-}" ]; then
    echo "$KELVO_WINE_ARCH"
elif [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo win32
else
    echo win64
fi
