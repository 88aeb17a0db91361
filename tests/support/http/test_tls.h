#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace zandrel::test {

// A server's certificate and private key, both PEM.
struct TlsIdentity {
    QByteArray certificatePem;
    QByteArray privateKeyPem;
};

// A certificate authority made on the spot, for one test or one demo: its own key, a
// self-signed CA certificate, and server certificates signed with it.
class TestCertificateAuthority {
public:
    explicit TestCertificateAuthority(const QString& name = QStringLiteral("Zandrel Test CA"));
    ~TestCertificateAuthority();
    TestCertificateAuthority(const TestCertificateAuthority&) = delete;
    TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

    QByteArray certificatePem() const;
    // Writes the CA certificate as a bundle to trust (CURL_CA_BUNDLE, SSL_CERT_FILE).
    void writeBundle(const QString& path) const;

    // A server certificate for the given names (IP addresses and DNS names), valid from
    // `fromDays` to `toDays` days from now; negative days lie in the past.
    TlsIdentity issue(const QStringList& hosts, int fromDays = -1, int toDays = 30) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace zandrel::test
