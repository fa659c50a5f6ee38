#!/bin/sh
# Prints win32 when this host can run 32-bit Wine, else win64. Some kernels
# refuse 32-bit executables altogether; the Wine tests then run the same
# sources built for x86_64 under a 64-bit prefix.
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo win32
else
    echo win64
fi
