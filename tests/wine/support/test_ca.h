// The https tests' CA (KELVO_TLS_CA, from with-tls-server.sh) trusted in the
// Root stores of this run's Wine prefix, never the host's: WinInet checks
// certificates against the prefix's stores.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "support/driver.h"
#include "trust/files_entry.h"

namespace kelvo::test {

// The current user's and the machine's Root both: a current user's chain
// engine reads the two. The updater under test is another process, which
// sees only what reached the registry, and a registry store writes there
// when it is committed or its last reference goes, so the store is committed
// here and the certificate's key then looked for where that process reads
// it. False with the reason in *error.
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
    return true;
}

}  // namespace kelvo::test
