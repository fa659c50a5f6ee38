// The https tests' CA (KELVO_TLS_CA, from with-tls-server.sh) trusted in the
// ROOT store of this run's Wine prefix, never the host's: WinInet checks
// certificates against the prefix's store.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "support/driver.h"

namespace kelvo::test {

// False with the reason in *error.
inline bool TrustTestCa(std::string* error) {
    std::string der;
    if (!ReadFile(WinPath(Env("KELVO_TLS_CA")), der)) {
        *error = "KELVO_TLS_CA unreadable (run under with-tls-server.sh)";
        return false;
    }
    HCERTSTORE store = ::CertOpenSystemStoreA(0, "ROOT");
    if (store == nullptr) {
        *error = "CertOpenSystemStore failed: " + std::to_string(::GetLastError());
        return false;
    }
    BOOL added = ::CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD code = ::GetLastError();
    ::CertCloseStore(store, 0);
    if (!added) {
        *error = "CertAddEncodedCertificateToStore failed: " + std::to_string(code);
    }
    return added != FALSE;
}

}  // namespace kelvo::test
