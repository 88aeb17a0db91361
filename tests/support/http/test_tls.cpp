#include "test_tls.h"

#include <QFile>

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <stdexcept>

namespace zandrel::test {
namespace {

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key newKey() {
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "cannot make a key");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    check(ext != nullptr, "bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

Cert newCertificate(const QString& commonName, EVP_PKEY* key, int fromDays, int toDays) {
    static std::atomic<long> serial{1000};
    Cert cert(X509_new());
    check(cert != nullptr, "no memory");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), static_cast<long>(fromDays) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(toDays) * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const QByteArray cn = commonName.toUtf8();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1, 0);
    return cert;
}

bool isIpAddress(const QString& host) {
    const QByteArray text = host.toLatin1();
    unsigned char address[16];
    return inet_pton(AF_INET, text.constData(), address) == 1 ||
           inet_pton(AF_INET6, text.constData(), address) == 1;
}

QByteArray pem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    QByteArray out(data, n);
    BIO_free(bio);
    return out;
}

QByteArray pem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    QByteArray out(data, n);
    BIO_free(bio);
    return out;
}

}  // namespace

struct TestCertificateAuthority::Impl {
    Key key;
    Cert cert;
};

TestCertificateAuthority::TestCertificateAuthority(const QString& name)
    : d(std::make_unique<Impl>()) {
    d->key = newKey();
    d->cert = newCertificate(name, d->key.get(), -1, 3650);
    X509_set_issuer_name(d->cert.get(), X509_get_subject_name(d->cert.get()));
    addExtension(d->cert.get(), d->cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(d->cert.get(), d->cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(d->cert.get(), d->cert.get(), NID_subject_key_identifier, "hash");
    check(X509_sign(d->cert.get(), d->key.get(), EVP_sha256()) > 0, "cannot sign the CA");
}

TestCertificateAuthority::~TestCertificateAuthority() = default;

QByteArray TestCertificateAuthority::certificatePem() const {
    return pem(d->cert.get());
}

void TestCertificateAuthority::writeBundle(const QString& path) const {
    QFile file(path);
    const QByteArray bytes = certificatePem();
    check(
        file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
        "cannot write the bundle");
}

TlsIdentity TestCertificateAuthority::issue(const QStringList& hosts, int fromDays,
                                            int toDays) const {
    Key key = newKey();
    Cert cert =
        newCertificate(hosts.value(0, QStringLiteral("server")), key.get(), fromDays, toDays);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(d->cert.get()));
    QStringList names;
    for (const QString& host : hosts)
        names << (isIpAddress(host) ? QStringLiteral("IP:") : QStringLiteral("DNS:")) + host;
    addExtension(cert.get(), d->cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), d->cert.get(), NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), d->cert.get(), NID_authority_key_identifier, "keyid");
    if (!names.isEmpty())
        addExtension(cert.get(), d->cert.get(), NID_subject_alt_name,
                     names.join(QLatin1Char(',')).toUtf8().constData());
    check(X509_sign(cert.get(), d->key.get(), EVP_sha256()) > 0, "cannot sign a certificate");
    return {pem(cert.get()), pem(key.get())};
}

}  // namespace zandrel::test
