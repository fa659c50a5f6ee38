// The https tests' CA (KELVO_TLS_CA, from with-tls-server.sh) trusted in the
// Root stores of this run's Wine prefix, never the host's: WinInet checks
// certificates against the prefix's stores.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "support/driver.h"
#include "trust/files_entry.h"

namespace kelvo::test {

// The chain a fresh chain engine, as a new process makes one, builds for
// the certificate the test CA issued: its error flags, 0 when trusted;
// *error says what failed when the chain could not be built at all.
inline DWORD ChainErrors(const std::string& leafDer, std::string* error) {
    PCCERT_CONTEXT leaf = ::CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(leafDer.data()),
        static_cast<DWORD>(leafDer.size()));
    if (leaf == nullptr) {
        *error = "CertCreateCertificateContext failed: " + std::to_string(::GetLastError());
        return ~DWORD(0);
    }
    CERT_CHAIN_ENGINE_CONFIG config = {};
    // The size without the fields newer headers add, which Wine refuses and
    // every Windows takes.
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, CycleDetectionModulus) + sizeof(DWORD);
    HCERTCHAINENGINE engine = nullptr;
    DWORD errors = ~DWORD(0);
    if (!::CertCreateCertificateChainEngine(&config, &engine)) {
        *error = "CertCreateCertificateChainEngine failed: " + std::to_string(::GetLastError());
    } else {
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof para;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (::CertGetCertificateChain(engine, leaf, nullptr, nullptr, &para, 0, nullptr, &chain)) {
            errors = chain->TrustStatus.dwErrorStatus;
            ::CertFreeCertificateChain(chain);
        } else {
            *error = "CertGetCertificateChain failed: " + std::to_string(::GetLastError());
        }
        ::CertFreeCertificateChainEngine(engine);
    }
    ::CertFreeCertificateContext(leaf);
    return errors;
}

// The current user's and the machine's Root both: a current user's chain
// engine reads the two. The updater under test is another process, which
// sees only what reached the registry, and a registry store writes there
// when it is committed or its last reference goes, so the store is committed
// here and the certificate's key then looked for where that process reads
// it. Then, before any test relies on it, the chain of the certificate the
// CA issued must come out trusted: a CI run once saw the updater call it an
// unknown CA (12045) right after it was added, which this wait (at most
// 15 s, reported when it was needed) and its message would catch.
// False with the reason in *error.
inline bool TrustTestCa(std::string* error) {
    std::string der;
    if (!ReadFile(WinPath(Env("KELVO_TLS_CA")), der)) {
        *error = "KELVO_TLS_CA unreadable (run under with-tls-server.sh)";
        return false;
    }
    const struct {
        DWORD location;
        HKEY root;
        const char* name;
    } stores[] = {{CERT_SYSTEM_STORE_CURRENT_USER, HKEY_CURRENT_USER, "current user's"},
                  {CERT_SYSTEM_STORE_LOCAL_MACHINE, HKEY_LOCAL_MACHINE, "machine's"}};
    for (const auto& s : stores) {
        const std::string where = std::string("the ") + s.name + " Root store: ";
        HCERTSTORE store =
            ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0, s.location, "Root");
        if (store == nullptr) {
            *error = where + "CertOpenStore failed: " + std::to_string(::GetLastError());
            return false;
        }
        PCCERT_CONTEXT added = nullptr;
        BYTE thumbprint[20] = {};
        DWORD thumbprintSize = sizeof thumbprint;
        std::string failed;
        if (!::CertAddEncodedCertificateToStore(
                store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
            failed = "CertAddEncodedCertificateToStore";
        } else if (!::CertGetCertificateContextProperty(added, CERT_HASH_PROP_ID, thumbprint,
                                                        &thumbprintSize)) {
            failed = "CertGetCertificateContextProperty";
        } else if (!::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
            failed = "CertControlStore (commit)";
        }
        const DWORD code = ::GetLastError();
        if (added != nullptr) {
            ::CertFreeCertificateContext(added);
        }
        ::CertCloseStore(store, 0);
        if (!failed.empty()) {
            *error = where + failed + " failed: " + std::to_string(code);
            return false;
        }
        // Registry names are compared without case.
        const std::string key = "Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" +
                                tovane::trust::ToHex(thumbprint, thumbprintSize);
        HKEY written = nullptr;
        const LONG rc = ::RegOpenKeyExA(s.root, key.c_str(), 0, KEY_READ, &written);
        if (rc != ERROR_SUCCESS) {
            *error = where +
                     "the certificate is not in the registry, where the updater reads it (" + key +
                     ": " + std::to_string(rc) + ")";
            return false;
        }
        ::RegCloseKey(written);
    }
    std::string leaf;
    if (!ReadFile(WinPath(Env("KELVO_TLS_GOOD_CERT")), leaf)) {
        *error = "KELVO_TLS_GOOD_CERT unreadable (run under with-tls-server.sh)";
        return false;
    }
    const DWORD started = ::GetTickCount();
    const DWORD first = ChainErrors(leaf, error);
    DWORD errors = first;
    while (errors != 0 && error->empty() && ::GetTickCount() - started < 15000) {
        ::Sleep(250);
        errors = ChainErrors(leaf, error);
    }
    if (first != 0) {
        std::printf("the test CA's chain had errors 0x%08lX; after %lu ms: 0x%08lX\n",
                    static_cast<unsigned long>(first),
                    static_cast<unsigned long>(::GetTickCount() - started),
                    static_cast<unsigned long>(errors));
        std::fflush(stdout);
    }
    if (errors != 0) {
        if (error->empty()) {
            *error =
                "the test CA's certificate for localhost does not chain to a trusted root "
                "(CERT_TRUST error flags " +
                std::to_string(errors) + ")";
        }
        return false;
    }
    return true;
}

}  // namespace kelvo::test
