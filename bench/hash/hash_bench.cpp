// Times the updater's file hashing (HashFile through CNG) on one file, and
// optionally one manifest signature check, for bench/hash.sh.
//   hash_bench FILE [MANIFEST SIGNATURE PUBLIC_KEY_PEM]
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "trust/files_entry.h"
#include "trust/verify.h"

namespace {

double Now() {
    LARGE_INTEGER f, t;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

std::vector<std::uint8_t> Read(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    namespace trust = tovane::trust;
    if (argc != 2 && argc != 5) {
        std::fprintf(stderr, "usage: hash_bench FILE [MANIFEST SIGNATURE PUBLIC_KEY_PEM]\n");
        return 2;
    }
    kelvo::unique_hfile file(::CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        DWORD error = ::GetLastError();
        std::fprintf(stderr, "open %s: %lu\n", argv[1], error);
        return 1;
    }
    trust::Sha256Digest digest;
    std::uint64_t size = 0;
    double start = Now();
    if (!trust::HashFile(file.get(), digest, size)) {
        std::fprintf(stderr, "HashFile failed\n");
        return 1;
    }
    double seconds = Now() - start;
    std::printf("bytes=%llu seconds=%.6f sha256=%s", static_cast<unsigned long long>(size), seconds,
                trust::ToHex(digest.data(), digest.size()).c_str());
    if (argc == 5) {
        std::vector<std::uint8_t> manifest = Read(argv[2]), sig = Read(argv[3]),
                                  pem = Read(argv[4]);
        std::string label, why;
        std::vector<std::uint8_t> der;
        trust::PublicKey key;
        if (!trust::DecodePem(std::string(pem.begin(), pem.end()), label, der) ||
            !trust::ParsePublicKeyInfo(der, key, why)) {
            std::fprintf(stderr, "\nbad public key %s\n", argv[4]);
            return 1;
        }
        start = Now();
        trust::ManifestCheck result =
            trust::VerifyManifest(manifest.data(), manifest.size(), sig.data(), sig.size(), {key});
        double verify = Now() - start;
        if (result != trust::ManifestCheck::kVerified) {
            std::fprintf(stderr, "\nsignature: %s\n", trust::ToString(result));
            return 1;
        }
        std::printf(" verify_seconds=%.6f", verify);
    }
    std::printf("\n");
    return 0;
}
