#include "tests/pages/CertificateMaker.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

namespace testcert {
namespace {

struct Free {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
};

std::unique_ptr<X509, Free> Make(const Subject& subject, int fromDays, int toDays) {
    // An elliptic-curve key: quick to make, and the kind of key does not matter here.
    static std::unique_ptr<EVP_PKEY, Free> key(EVP_EC_gen("P-256"));
    if (!key)
        throw std::runtime_error("no key");
    std::unique_ptr<X509, Free> certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 86400L * fromDays);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400L * toDays);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    for (const auto& [field, value] : subject)
        X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_set_pubkey(certificate.get(), key.get());
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("not signed");
    return certificate;
}

std::string Drain(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

} // namespace

std::string Pem(const Subject& subject, int validFromDays, int validToDays) {
    auto certificate = Make(subject, validFromDays, validToDays);
    std::unique_ptr<BIO, Free> bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), certificate.get());
    return Drain(bio.get());
}

std::string Der(const Subject& subject, int validFromDays, int validToDays) {
    auto certificate = Make(subject, validFromDays, validToDays);
    std::unique_ptr<BIO, Free> bio(BIO_new(BIO_s_mem()));
    i2d_X509_bio(bio.get(), certificate.get());
    return Drain(bio.get());
}

} // namespace testcert
