#!/bin/sh
# Updates into folders a standard user cannot write, under Wine. The test
# run is root, whom Unix permissions do not bind, so the driver
# (elevation_test.cpp) runs as an unprivileged user in a prefix and on a
# display of that user's own, over program folders owned by root (mode 755: creates, renames and writes fail
# with error 5, as Program Files refuses a standard user). Root answers the
# driver's requests to hand a case's folder over: consent, where Wine has no
# UAC. Every "runas" the updater makes shows in the WINEDEBUG=trace+exec
# log, and is counted.
#   as-standard-user.sh WORK PORT win32|win64 DRIVER KEYED_EXE UNKEYED_EXE PRODUCT_EXE KEY_PEM
set -eu
here=$(cd "$(dirname "$0")" && pwd)
harness=$here/../../harness

if [ "${1:-}" = --inside-server ]; then
    # The update: a signed release of two files, with [Files] entries.
    folder=$KELVO_HTTP_ROOT/UploadFile/Product_Soft/Kelvo
    mkdir -p "$folder"
    python3 - "$folder" "$KEY_PEM" "$KELVO_REPLAY" <<'PY'
import hashlib, os, subprocess, sys
folder, key, replay = sys.argv[1], sys.argv[2], sys.argv[3]
files = {"Kelvo.dat": b"Kelvo 1.1 sample data\r\n", "a.dll": b"new a" * 300}
text = b"[Programs]\r\nPrograms=Kelvo.dat?a.dll?\r\n[Kelvo]\r\nMainVer=1\r\nSubVer=1\r\n"
text += b"UpdateInof=Kelvo 1.1\r\n[Files]\r\n"
for name, data in files.items():
    text += b"%s=%d %s\r\n" % (name.encode(), len(data), hashlib.sha256(data).hexdigest().encode())
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
with open(os.path.join(folder, "Version.txt"), "wb") as f:
    f.write(text)
sig = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, os.path.join(folder, "Version.txt")],
                     check=True, capture_output=True).stdout
with open(os.path.join(folder, "Version.txt.sig"), "wb") as f:
    f.write(sig)
# The release installed already, signed too: what a program of the user's
# could hand over instead, to have an administrator go back to it.
os.makedirs(replay, exist_ok=True)
old = text.replace(b"MainVer=1\r\nSubVer=1", b"MainVer=1\r\nSubVer=0")
with open(os.path.join(replay, "Version.txt"), "wb") as f:
    f.write(old)
sig = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, os.path.join(replay, "Version.txt")],
                     check=True, capture_output=True).stdout
with open(os.path.join(replay, "Version.txt.sig"), "wb") as f:
    f.write(sig)
PY
    chmod -R a+rX "$KELVO_HTTP_ROOT" "$KELVO_REPLAY"
    # Root's side: a request names a case's folder and who is to own it
    # ("consent user", "interrupted root"); nothing else is handed over.
    (
        i=0
        while [ $i -lt 6000 ]; do
            if [ -f "$SIGNALS/chown" ]; then
                request=$(cat "$SIGNALS/chown")
                rm -f "$SIGNALS/chown"
                folder=${request% *}
                owner=${request#* }
                case "$folder" in
                consent | failure | tampered | unkeyed | interrupted | declined | replayed)
                    case "$owner" in
                    user) chown -R "$USER_NAME" "$PROTECTED/$folder" || true ;;
                    root) chown -R root:root "$PROTECTED/$folder" || true ;;
                    esac
                    # The driver's to delete: it appears whole and the user's.
                    touch "$SIGNALS/done.tmp"
                    chown "$USER_NAME" "$SIGNALS/done.tmp"
                    mv "$SIGNALS/done.tmp" "$SIGNALS/chown.done"
                    ;;
                esac
            fi
            sleep 0.1
            i=$((i + 1))
        done
    ) &
    watcher=$!
    rc=0
    runuser -u "$USER_NAME" -- sh -c '. "$1/env"; export WINEDEBUG=trace+exec; cd /tmp;
        exec "$KELVO_WINE" "$2"' sh "$USER_STATE" "$DRIVER" \
        2>"$WORK/driver.err" || rc=$?
    kill $watcher 2>/dev/null || true
    wait $watcher 2>/dev/null || true
    # The driver's own output; Wine's trace lines are only counted.
    grep -v ':trace:\|:fixme:' "$WORK/driver.err" >&2 || true
    # consent, failure, tampered, interrupted twice (its install, then the
    # recovery on the next start), planted and replayed; not declined, whose
    # consent is refused in the updater itself, nor unkeyed.
    runas=$(grep -c 'verb=L"runas"' "$WORK/driver.err" || true)
    echo "ShellExecuteEx calls with verb \"runas\": $runas (expected 7)"
    [ "$runas" = 7 ] || rc=1
    exit $rc
fi

work=$1
port=$2
arch=$3
driver=$4
keyed=$5
unkeyed=$6
product=$7
key=$8
user=kelvo-standard

id -u "$user" >/dev/null 2>&1 || useradd -m -s /bin/sh "$user"
mkdir -p "$work"
work=$(cd "$work" && pwd)
# What the user runs and reads lies outside the checkout, which may be in a
# folder only root can enter (mktemp -d makes it 0700): a folder of this
# run's own, removed at the end. The user's prefix stays in its home.
shared=$(mktemp -d /tmp/kelvo-elevation.XXXXXX)
chmod 755 "$shared"
cp "$harness/wine-session.sh" "$driver" "$shared/"
driver=$shared/$(basename "$driver")
state=/home/$user/kelvo-wine-$arch
mkdir -p "$state"
chown "$user" "$state"

# The user's prefix and display (wine-session.sh starts Xvfb as that user),
# ended by their ids.
trap 'runuser -u "$user" -- sh "$shared/wine-session.sh" stop "$state" >/dev/null 2>&1 || true
    rm -rf "$shared"' EXIT INT TERM
chmod -R a+rX "$shared"
runuser -u "$user" -- env HOME="/home/$user" sh "$shared/wine-session.sh" start "$state" "$arch" \
    >"$work/session.log" 2>&1 || { cat "$work/session.log" >&2; exit 1; }

# One program folder per case, root's, with version 1.0 in it.
protected=$shared/protected
for case in consent failure tampered unkeyed interrupted declined planted replayed; do
    dir=$protected/$case
    mkdir -p "$dir"
    cp "$product" "$dir/Kelvo.exe"
    if [ "$case" = unkeyed ]; then
        cp "$unkeyed" "$dir/Tovane.exe"
    else
        cp "$keyed" "$dir/Tovane.exe"
    fi
    printf 'old a' >"$dir/a.dll"
    printf '[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n' >"$dir/Version.ini"
done
chown -R root:root "$protected"
chmod -R u=rwX,go=rX "$protected"
signals=$shared/signals
mkdir -p "$signals"
chown "$user" "$signals"

export WORK="$work" USER_NAME="$user" USER_STATE="$state" DRIVER="$driver" KEY_PEM="$key"
export PROTECTED="$protected" SIGNALS="$signals"
# The driver finds its folders through the environment runuser passes on.
export KELVO_PROTECTED="$protected" KELVO_SIGNALS="$signals" KELVO_REPLAY="$shared/replay"
sh "$harness/with-http-server.sh" "$work/site" "$port" sh "$here/as-standard-user.sh" --inside-server
