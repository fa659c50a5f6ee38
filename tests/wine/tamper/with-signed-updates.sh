#!/bin/sh
# Makes the update folders of the tamper tests with the openssl command line,
# one folder per case, then runs the test command. The good update is signed
# with the keys TovaneKeyed.exe has built in (made in the build tree when it
# is configured); every other folder is that update with one thing wrong.
#   with-signed-updates.sh DIR KEYS command...
# KEYS holds first.pem and second.pem. The command sees KELVO_TAMPER_UPDATES=DIR.
# KELVO_NEXT_UPDATER_EXE names the updater that the release before a key
# rotation ships (one that holds both keys).
set -eu
: "${KELVO_NEXT_UPDATER_EXE:?the updater with both keys, shipped by the rotation release}"
dir=$1
keys=$2
shift 2
rm -rf "$dir"
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

python3 - "$dir" "$keys" <<'PY'
import hashlib, os, subprocess, sys, time

out, keys = sys.argv[1], sys.argv[2]
other_key = os.path.join(out, "other.pem")
subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout",
                "-out", other_key], check=True)

files = {"Kelvo.dat": b"Kelvo 1.1 sample data\r\n", "a.dll": b"new a" * 300}

def manifest(entries, main=1, sub=1, expires=None):
    text = ("[Programs]\r\nPrograms=Kelvo.dat?a.dll?\r\n[Kelvo]\r\nMainVer=%d\r\nSubVer=%d\r\n"
            "UpdateInof=Kelvo %d.%d?- signed\r\n" % (main, sub, main, sub)).encode()
    if expires is not None:
        text += b"[Release]\r\nExpires=%s\r\n" % expires.encode()
    if entries:
        text += b"[Files]\r\n"
        for name in entries:
            data = files[name]
            text += b"%s=%d %s\r\n" % (name.encode(), len(data), hashlib.sha256(data).hexdigest().encode())
    return text

def sign(data, key):
    path = os.path.join(out, "to-sign")
    with open(path, "wb") as f:
        f.write(data)
    sig = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, path],
                         check=True, capture_output=True).stdout
    os.remove(path)
    return sig

first = os.path.join(keys, "first.pem")
second = os.path.join(keys, "second.pem")
good = manifest(["Kelvo.dat", "a.dll"])
good_sig = sign(good, first)

def case(name, version=good, sig=good_sig, served=None):
    folder = os.path.join(out, name)
    os.makedirs(folder)
    for file_name, data in dict(files, **(served or {})).items():
        with open(os.path.join(folder, file_name), "wb") as f:
            f.write(data)
    with open(os.path.join(folder, "Version.txt"), "wb") as f:
        f.write(version)
    if sig is not None:
        with open(os.path.join(folder, "Version.txt.sig"), "wb") as f:
            f.write(sig)

case("signed-first")
case("signed-second", sig=sign(good, second))
# The updater rewrites a UTF-8 manifest as UTF-16 before it reads it: the
# signature is over the bytes served, the check of its copy over the rewrite.
utf8 = b"\xef\xbb\xbf" + good
case("signed-utf8", version=utf8, sig=sign(utf8, first))
changed = bytearray(good)
changed[good.index(b"signed")] ^= 0x20  # "Signed"
case("manifest-byte-changed", version=bytes(changed))
case("signature-missing", sig=None)
case("signature-empty", sig=b"")
case("signature-truncated", sig=good_sig[:-1])
case("signature-trailing-garbage", sig=good_sig + b"\x00")
case("signature-other-key", sig=sign(good, other_key))
case("signature-over-other-file", sig=sign(manifest(["Kelvo.dat", "a.dll"], 9, 9), first))
dat = bytearray(files["Kelvo.dat"])
dat[0] ^= 0x01
case("file-byte-changed", served={"Kelvo.dat": bytes(dat)})
case("file-other-size", served={"a.dll": files["a.dll"] + b"!"})
case("file-shorter", served={"a.dll": files["a.dll"][:-1]})
no_entry = manifest(["Kelvo.dat"])
case("file-without-entry", version=no_entry, sig=sign(no_entry, first))
case("unsigned-server", version=manifest([]), sig=None)

def signed(name, version):
    case(name, version=version, sig=sign(version, first))

# The date is signed with the rest, so only the updater's clock decides:
# an hour either side of now, and the ends of the range.
now = int(time.time())
utc = lambda t: time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(t))
signed("expired-long-ago", manifest(["Kelvo.dat", "a.dll"], expires="2001-02-03T04:05:06Z"))
signed("expired-an-hour-ago", manifest(["Kelvo.dat", "a.dll"], expires=utc(now - 3600)))
signed("expires-in-an-hour", manifest(["Kelvo.dat", "a.dll"], expires=utc(now + 3600)))
signed("expires-far-ahead", manifest(["Kelvo.dat", "a.dll"], expires="9999-12-31T23:59:59Z"))
# Written as a person might, or a date that does not exist.
signed("expires-local-style", manifest(["Kelvo.dat", "a.dll"], expires="2099-12-31 23:59:59"))
signed("expires-no-such-day", manifest(["Kelvo.dat", "a.dll"], expires="2099-02-29T12:00:00Z"))

def release(name, shipped, sub, key, notes):
    # Version 1.<sub> of whatever files it ships, each with its [Files] entry.
    names = list(shipped)
    text = ("[Programs]\r\nPrograms=%s?\r\n[Kelvo]\r\nMainVer=1\r\nSubVer=%d\r\n"
            "UpdateInof=Kelvo 1.%d?%s\r\n[Files]\r\n" % ("?".join(names), sub, sub, notes)).encode()
    for file_name in names:
        data = shipped[file_name]
        text += b"%s=%d %s\r\n" % (file_name.encode(), len(data), hashlib.sha256(data).hexdigest().encode())
    folder = os.path.join(out, name)
    os.makedirs(folder)
    for file_name, data in dict(shipped, **{"Version.txt": text, "Version.txt.sig": sign(text, key)}).items():
        with open(os.path.join(folder, file_name), "wb") as f:
            f.write(data)

# A key rotation: the last release signed with the old key ships the updater
# that knows both, so the first signed with the new key alone finds it there.
with open(os.environ["KELVO_NEXT_UPDATER_EXE"], "rb") as f:
    both_keys_updater = f.read()
release("rotation-last-old-key", {"Tovane.exe": both_keys_updater,
                                  "Kelvo.dat": b"Kelvo 1.1 sample data\r\n"},
        1, first, "- ships the new signing key")
release("rotation-first-new-key", {"Kelvo.dat": b"Kelvo 1.2 sample data\r\n",
                                   "a.dll": b"a of 1.2 " * 200},
        2, second, "- signed with the new key only")
PY
rm -f "$dir/other.pem"

KELVO_TAMPER_UPDATES=$dir
export KELVO_TAMPER_UPDATES
exec "$@"
