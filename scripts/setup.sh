#!/bin/sh
# Installs what building and testing the kit needs, on Debian, as root.
# Idempotent: installs only what is missing, and touches apt only then.
set -eu

# locales and the CJK font: the text tests run the updater under a Chinese and
# an English locale and take screenshots of the Chinese text.
packages="cmake make g++ python3 clang-format mingw-w64 mingw-w64-tools wine wine64 wine32:i386 xvfb xauth googletest\
    clang lld llvm osslsigncode openssl locales fonts-wqy-microhei\
    libssl-dev libclang-rt-14-dev nginx-light curl zlib1g-dev libz-mingw-w64-dev"
# Locales the Wine tests start programs under (Wine takes the ANSI code page
# from the Unix locale, and only from one that is generated).
test_locales="zh_CN.UTF-8 en_US.UTF-8"

missing=
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
missing_locales=
for l in $test_locales; do
    # locale -a spells them in lower case without the dash: zh_CN.utf8
    spelled=$(echo "$l" | sed 's/UTF-8$/utf8/')
    if ! locale -a 2>/dev/null | grep -qx "$spelled"; then
        missing_locales="$missing_locales $l"
    fi
done
[ -n "$missing$missing_locales" ] || exit 0

if [ "$(id -u)" != 0 ]; then
    echo "run as root (needed for:$missing$missing_locales)" >&2
    exit 1
fi

generate_locales() {
    [ -n "$missing_locales" ] || return 0
    echo "generating locales:$missing_locales"
    for l in $missing_locales; do
        # Uncomment the line if it is there, add it otherwise.
        if grep -q "^# *$l UTF-8\$" /etc/locale.gen; then
            sed -i "s/^# *$l UTF-8\$/$l UTF-8/" /etc/locale.gen
        elif ! grep -q "^$l UTF-8\$" /etc/locale.gen; then
            echo "$l UTF-8" >>/etc/locale.gen
        fi
    done
    locale-gen >/dev/null
}

if [ -z "$missing" ]; then
    generate_locales
    exit 0
fi

echo "installing:$missing"
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
generate_locales
