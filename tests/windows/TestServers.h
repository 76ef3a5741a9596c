// What https_test.sh's https servers need from the test program: their CA in the Wine prefix's
// Root store and the CAs' revocation lists served where the certificates say.
#pragma once

#include <winsock2.h>
// After winsock2.h.
#include <wincrypt.h>

#include <string>

#include "platform/net/RawServer.h"
#include "support/WinTestSupport.h"

// Trusts the run's CA (the script takes it out of the store again) and serves the revocation
// lists, for as long as it lives. Made before the process's first https request: the process
// keeps the trust it finds then.
class TestHttps {
public:
    explicit TestHttps(const std::string& dir)
        : m_revocation(RawServer::Answers([dir](const std::string& request) {
                           const std::string name = request.substr(5, request.find(' ', 5) - 5);
                           return HttpAnswer("200 OK\r\nContent-Type: application/pkix-crl",
                                             Slurp(dir + "\\" + name));
                       }),
                       std::stoi(EnvironmentUtf8(L"VANTREL_CRL_PORT"))) {
        const std::string der = Slurp(dir + "\\ca.der");
        const HCERTSTORE root = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                                CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (root == nullptr) return;
        m_bTrusted =
            ::CertAddEncodedCertificateToStore(
                root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
        ::CertCloseStore(root, 0);  // written to the prefix's registry now
    }
    bool Trusted() const { return m_bTrusted; }

private:
    RawServer m_revocation;
    bool m_bTrusted = false;
};
