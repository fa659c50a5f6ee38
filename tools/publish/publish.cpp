// kelvo-publish: makes a vendor's signing keys and publishes a signed update
// folder (the files, their gzip forms where those save enough, Version.txt
// with [Files], [Release] and [Compressed], Version.txt.sig).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ecdsa_signature.h"
#include "files_entry.h"
#include "gzip_form.h"
#include "manifest.h"
#include "manifest_writer.h"
#include "p256_keys.h"
#include "platform.h"
#include "release_values.h"

namespace kelvo::publish {
namespace {

namespace trust = tovane::trust;

constexpr char kUsage[] =
    "usage:\n"
    "  kelvo-publish keygen PRIVATE.pem PUBLIC.pem\n"
    "      writes a new P-256 key pair; the private key file must not exist yet\n"
    "  kelvo-publish publish --key PRIVATE.pem --version MAIN.SUB --notes NOTES.txt\n"
    "                        [--expires-in DAYS|never] [--rollout PERCENT] DIR FILE...\n"
    "      writes into DIR the files, Version.txt and its signature Version.txt.sig;\n"
    "      list the program that is started after the update last; a file that\n"
    "      gzip makes at least 10% smaller also gets its gzip form FILE.gz, listed\n"
    "      in Version.txt's [Compressed] section for updaters that fetch it\n"
    "      --expires-in DAYS  updaters with a built-in key refuse this manifest once\n"
    "                         DAYS (1..3650, default 90) days have passed, so that an\n"
    "                         old one replayed cannot hold machines back: publish\n"
    "                         again before then; 'never' writes no expiry\n"
    "      --rollout PERCENT  quiet checks offer the release to PERCENT (0..100) of\n"
    "                         machines; 0 pauses it; default: all\n"
    "      --now TIME         takes TIME (YYYY-MM-DDTHH:MM:SSZ, UTC) as the current\n"
    "                         time instead of the clock, for reproducible builds and\n"
    "                         tests\n";

// Dated by default, so that a vendor who never thinks of it still publishes
// manifests that cannot be replayed for ever; about a quarter, which a
// scheduled re-publish renews long before it runs out.
constexpr unsigned kDefaultExpiryDays = 90;

int Fail(const std::string& message) {
    std::fprintf(stderr, "kelvo-publish: %s\n", message.c_str());
    return 1;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = path + ": cannot open (missing or unreadable)";
        return false;
    }
    try {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::bad_alloc&) {
        why = path + ": too large to read";
        return false;
    }
    if (in.bad()) {
        why = path + ": read error";
        return false;
    }
    return true;
}

std::string BaseName(const std::string& path) {
    std::size_t cut = path.find_last_of(PathSeparator() == '\\' ? "\\/:" : "/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool WriteNewFile(const std::string& path, const std::string& bytes, bool secret,
                  std::string& why) {
    std::unique_ptr<NewFile> file = CreateNewFile(path, secret, why);
    return file && file->Write(bytes.data(), bytes.size(), why) && file->Finish(why);
}

bool Sha256Of(const std::string& bytes, trust::Sha256Digest& digest) {
    std::unique_ptr<Sha256Hasher> hasher = NewSha256Hasher();
    return hasher->Add(bytes.data(), bytes.size()) && hasher->Finish(digest);
}

int Keygen(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        return Fail(std::string("keygen takes two file names\n") + kUsage);
    }
    trust::PrivateKey key;
    std::string why;
    if (!GenerateKey(key, why)) {
        return Fail(why);
    }
    std::string privatePem = trust::EncodePem("PRIVATE KEY", trust::EncodePrivateKeyInfo(key));
    std::string publicPem = trust::EncodePem("PUBLIC KEY", trust::EncodePublicKeyInfo(key.point));
    key = trust::PrivateKey();
    // The public key first: if it cannot be written, no private key exists
    // without its public half.
    if (!WriteNewFile(args[1], publicPem, false, why)) {
        return Fail("public key not written: " + why);
    }
    if (!WriteNewFile(args[0], privatePem, true, why)) {
        RemoveFile(args[1]);
        return Fail("private key not written: " + why);
    }
    std::printf("private key: %s\npublic key: %s\n", args[0].c_str(), args[1].c_str());
    return 0;
}

// Temporaries in the target folder, so that each rename stays on one volume
// and replaces its file in one step; removed again unless handed over.
class Staging {
public:
    explicit Staging(std::string dir) : dir_(std::move(dir)) {}
    ~Staging() {
        for (const auto& item : items_) {
            RemoveFile(item.first);
        }
    }
    bool Add(const std::string& name, const std::string& bytes, std::string& why) {
        std::string temp = NextTemporary();
        if (!WriteNewFile(temp, bytes, false, why)) {
            return false;
        }
        items_.emplace_back(temp, dir_ + PathSeparator() + name);
        return true;
    }
    // Copies the file in pieces, hashing and gzipping the very bytes
    // written, so that its entry and gzip form describe the copy whatever
    // happens to the source meanwhile. The gzip form is kept only when
    // GzipFormWorthPublishing says so, and item.gzipSize set then.
    bool AddCopy(const std::string& source, ListedFile& item, std::string& why) {
        std::ifstream in(source, std::ios::binary);
        if (!in) {
            why = source + ": cannot open (missing or unreadable)";
            return false;
        }
        const std::string temp = NextTemporary();
        std::unique_ptr<NewFile> out = CreateNewFile(temp, false, why);
        if (!out) {
            return false;
        }
        const std::string gzipTemp = NextTemporary();
        std::unique_ptr<NewFile> gzipOut = CreateNewFile(gzipTemp, false, why);
        if (!gzipOut) {
            return false;
        }
        std::unique_ptr<Sha256Hasher> hasher = NewSha256Hasher();
        GzipForm gzip;
        std::vector<char> buffer(1 << 20);
        std::string gzipBytes;
        std::uint64_t size = 0, gzipSize = 0;
        while (in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            auto got = static_cast<std::size_t>(in.gcount());
            if (got > 0 &&
                !(hasher->Add(buffer.data(), got) && out->Write(buffer.data(), got, why))) {
                if (why.empty()) why = "SHA-256 failed";
                return false;
            }
            gzipBytes.clear();
            if (!gzip.Add(buffer.data(), got, gzipBytes, why) ||
                !gzipOut->Write(gzipBytes.data(), gzipBytes.size(), why)) {
                return false;
            }
            size += got;
            gzipSize += gzipBytes.size();
        }
        if (in.bad()) {
            why = source + ": read error";
            return false;
        }
        if (!hasher->Finish(item.entry.sha256)) {
            why = "SHA-256 failed";
            return false;
        }
        gzipBytes.clear();
        if (!gzip.Finish(gzipBytes, why) ||
            !gzipOut->Write(gzipBytes.data(), gzipBytes.size(), why)) {
            return false;
        }
        gzipSize += gzipBytes.size();
        if (!out->Finish(why)) {
            return false;
        }
        item.entry.size = size;
        items_.emplace_back(temp, dir_ + PathSeparator() + item.name);
        if (!GzipFormWorthPublishing(size, gzipSize)) {
            // Dropped unfinished, which removes it.
            return true;
        }
        if (!gzipOut->Finish(why)) {
            return false;
        }
        item.gzipSize = gzipSize;
        items_.emplace_back(
            gzipTemp, dir_ + PathSeparator() + item.name + tovane::manifest_names::kGzipSuffix);
        return true;
    }
    // In the order added: the signature goes last, so that a manifest and
    // signature that agree are never beside files that do not match them.
    bool Commit(std::string& why) {
        while (!items_.empty()) {
            if (!RenameOver(items_.front().first, items_.front().second, why)) {
                return false;
            }
            items_.erase(items_.begin());
        }
        return true;
    }

private:
    std::string NextTemporary() {
        std::string temp = dir_ + PathSeparator() + ".kelvo-publish-" +
                           std::to_string(ProcessId()) + "-" + std::to_string(temporaries_++) +
                           ".tmp";
        // One left by a run that was killed, with the same process id.
        RemoveFile(temp);
        return temp;
    }

    std::string dir_;
    std::vector<std::pair<std::string, std::string>> items_;
    unsigned temporaries_ = 0;
};

// The [Release] values from the options as given; false with the reason
// when one is refused.
bool ReleaseFromOptions(const std::optional<std::string>& expiresIn,
                        const std::optional<std::string>& rollout,
                        const std::optional<std::string>& now, ReleaseInfo& release,
                        std::string& why) {
    std::int64_t nowSeconds = 0;
    if (!now) {
        nowSeconds = UtcNow();
    } else if (!tovane::ParseUtcTime(*now, &nowSeconds)) {
        why = "--now '" + *now + "' is not a UTC time YYYY-MM-DDTHH:MM:SSZ";
        return false;
    }
    if (expiresIn != "never") {
        unsigned days = kDefaultExpiryDays;
        if (expiresIn && !ParseExpiryDays(*expiresIn, days)) {
            why = "--expires-in '" + *expiresIn + "' is not a whole number of days 1.." +
                  std::to_string(kMaxExpiryDays) + " nor 'never'";
            return false;
        }
        std::int64_t expires = 0;
        if (!ExpiryAfter(nowSeconds, days, expires)) {
            why = "--expires-in " + std::to_string(days) + " from the current time (" +
                  std::to_string(nowSeconds) + " s since 1970) falls outside 1970..9999";
            return false;
        }
        release.expires = expires;
    }
    if (rollout) {
        unsigned percent = 0;
        if (!tovane::ParseRolloutPercent(*rollout, &percent)) {
            why = "--rollout '" + *rollout + "' is not a percent 0..100 (plain digits)";
            return false;
        }
        release.rolloutPercent = percent;
    }
    return true;
}

int Publish(const std::vector<std::string>& args) {
    std::string keyPath, version, notesPath, dir;
    std::optional<std::string> expiresIn, rollout, now;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--key" || a == "--version" || a == "--notes") && dir.empty()) {
            if (i + 1 >= args.size()) {
                return Fail(a + " needs a value");
            }
            (a == "--key" ? keyPath : a == "--version" ? version : notesPath) = args[++i];
        } else if ((a == "--expires-in" || a == "--rollout" || a == "--now") && dir.empty()) {
            if (i + 1 >= args.size()) {
                return Fail(a + " needs a value");
            }
            (a == "--expires-in" ? expiresIn : a == "--rollout" ? rollout : now) = args[++i];
        } else if (dir.empty()) {
            if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
                return Fail("unknown option " + a + "\n" + kUsage);
            }
            dir = a;
        } else {
            files.push_back(a);
        }
    }
    if (keyPath.empty() || version.empty() || notesPath.empty() || dir.empty() || files.empty()) {
        return Fail(std::string("publish needs --key, --version, --notes, DIR and FILE...\n") +
                    kUsage);
    }
    std::uint32_t mainVer = 0, subVer = 0;
    if (!ParseReleaseVersion(version, mainVer, subVer)) {
        return Fail("version '" + version + "' is not MAIN.SUB (two decimal numbers)");
    }
    ReleaseInfo release;
    std::string why;
    if (!ReleaseFromOptions(expiresIn, rollout, now, release, why)) {
        return Fail(why);
    }
    std::vector<std::string> names;
    for (const std::string& f : files) {
        names.push_back(BaseName(f));
    }
    why = CheckNames(names);
    if (!why.empty()) {
        return Fail(why);
    }
    std::string keyText, notes, notesValue;
    trust::PrivateKey key;
    if (!ReadWholeFile(keyPath, keyText, why)) {
        return Fail("key: " + why);
    }
    if (!trust::ReadPrivateKeyPem(keyText, key, why)) {
        return Fail(keyPath + ": " + why);
    }
    if (!ReadWholeFile(notesPath, notes, why) || !NotesToValue(notes, notesValue, why)) {
        return Fail("notes: " + why);
    }
    if (!EnsureFolder(dir, why)) {
        return Fail("update folder: " + why);
    }

    Staging staging(dir);
    std::vector<ListedFile> listed;
    for (std::size_t i = 0; i < files.size(); ++i) {
        ListedFile item{names[i], {}};
        if (!staging.AddCopy(files[i], item, why)) {
            return Fail(why);
        }
        listed.push_back(item);
    }
    std::string manifest = BuildManifest(listed, mainVer, subVer, notesValue, release);
    if (manifest.size() > tovane::limits::kManifestBytes) {
        return Fail("Version.txt would be " + std::to_string(manifest.size()) +
                    " bytes, more than the " + std::to_string(tovane::limits::kManifestBytes) +
                    " the updater reads");
    }
    trust::Sha256Digest digest;
    trust::RawSignature rs;
    if (!Sha256Of(manifest, digest) || !SignDigest(key, digest, rs, why)) {
        return Fail(why);
    }
    // A private key whose public half does not belong to it signs something
    // no updater accepts: better to find out here.
    if (!VerifyDigest(key.point, digest, rs)) {
        return Fail(keyPath + ": the private and public parts of the key do not match");
    }
    key = trust::PrivateKey();
    std::vector<std::uint8_t> der = trust::EncodeDerSignature(rs);
    if (!staging.Add("Version.txt", manifest, why) ||
        !staging.Add("Version.txt.sig", std::string(der.begin(), der.end()), why)) {
        return Fail("update folder: " + why);
    }
    if (!staging.Commit(why)) {
        return Fail("update folder: " + why);
    }
    std::size_t gzipped = 0;
    for (const ListedFile& item : listed) {
        gzipped += item.gzipSize ? 1 : 0;
    }
    std::printf(
        "published %u.%u: %zu file(s) (%zu with a gzip form), Version.txt, "
        "Version.txt.sig in %s\n",
        mainVer, subVer, listed.size(), gzipped, dir.c_str());
    if (release.expires) {
        std::printf("expires %s: publish again before then\n",
                    tovane::FormatUtcTime(*release.expires).c_str());
    } else {
        std::printf("no expiry\n");
    }
    if (release.rolloutPercent) {
        std::printf("offered to %u%% of machines\n", *release.rolloutPercent);
    }
    return 0;
}

}  // namespace
}  // namespace kelvo::publish

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kelvo::publish::kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "keygen") {
        return kelvo::publish::Keygen(args);
    }
    if (command == "publish") {
        return kelvo::publish::Publish(args);
    }
    return kelvo::publish::Fail("unknown command '" + command + "'\n" + kelvo::publish::kUsage);
}
