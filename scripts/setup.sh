#!/bin/sh
# Installs what building and testing the kit needs, on Debian, as root.
# Idempotent: installs only what is missing, and touches apt only then.
set -eu

packages="cmake make g++ python3 clang-format mingw-w64 mingw-w64-tools wine wine64 wine32:i386 xvfb xauth googletest nginx-light curl"

missing=
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -n "$missing" ] || exit 0

echo "installing:$missing"
if [ "$(id -u)" != 0 ]; then
    echo "run as root (apt-get is needed for:$missing)" >&2
    exit 1
fi
case " $missing " in
*":i386"*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    ;;
esac
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
