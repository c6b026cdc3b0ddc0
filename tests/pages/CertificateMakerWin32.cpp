// The certificates of the certificate tests on Windows, made with the system's own CryptoAPI
// (self-signed, with a key container Windows creates for the purpose).
#include "tests/pages/CertificateMaker.h"

#include <windows.h>

#include <wincrypt.h> // after windows.h, whose types it uses

#include <ctime>
#include <map>
#include <stdexcept>
#include <vector>

namespace testcert {
namespace {

const std::map<std::string, const char*> kAttributeIds = {
    {"CN", szOID_COMMON_NAME},
    {"O", szOID_ORGANIZATION_NAME},
    {"OU", szOID_ORGANIZATIONAL_UNIT_NAME},
    {"C", szOID_COUNTRY_NAME},
    {"L", szOID_LOCALITY_NAME},
    {"ST", szOID_STATE_OR_PROVINCE_NAME},
};

SYSTEMTIME DaysFromNow(int days) {
    const std::time_t when = std::time(nullptr) + 86400LL * days;
    std::tm utc{};
    gmtime_s(&utc, &when);
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(utc.tm_year + 1900);
    time.wMonth = static_cast<WORD>(utc.tm_mon + 1);
    time.wDay = static_cast<WORD>(utc.tm_mday);
    time.wHour = static_cast<WORD>(utc.tm_hour);
    time.wMinute = static_cast<WORD>(utc.tm_min);
    time.wSecond = static_cast<WORD>(utc.tm_sec);
    return time;
}

// The certificate's DER bytes.
std::string Make(const Subject& subject, int fromDays, int toDays) {
    // One relative name per attribute, in order, each a UTF-8 string, which the encoder takes
    // as UTF-16 (the country too, which the parser on the other side reads the same either way).
    std::vector<std::wstring> values(subject.size());
    std::vector<CERT_RDN_ATTR> attributes(subject.size());
    std::vector<CERT_RDN> names(subject.size());
    for (std::size_t i = 0; i < subject.size(); ++i) {
        const auto id = kAttributeIds.find(subject[i].first);
        if (id == kAttributeIds.end())
            throw std::runtime_error("unknown attribute " + subject[i].first);
        const std::string& utf8 = subject[i].second;
        values[i].resize(utf8.size());
        values[i].resize(static_cast<std::size_t>(
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                values[i].data(), static_cast<int>(values[i].size()))));
        attributes[i].pszObjId = const_cast<char*>(id->second);
        attributes[i].dwValueType = CERT_RDN_UTF8_STRING;
        attributes[i].Value.cbData = static_cast<DWORD>(values[i].size() * sizeof(wchar_t));
        attributes[i].Value.pbData = reinterpret_cast<BYTE*>(values[i].data());
        names[i].cRDNAttr = 1;
        names[i].rgRDNAttr = &attributes[i];
    }
    CERT_NAME_INFO info{static_cast<DWORD>(names.size()), names.data()};
    BYTE* encoded = nullptr;
    DWORD encodedSize = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_NAME, &info, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                             &encoded, &encodedSize))
        throw std::runtime_error("subject not encoded");
    CERT_NAME_BLOB name{encodedSize, encoded};
    SYSTEMTIME start = DaysFromNow(fromDays);
    SYSTEMTIME end = DaysFromNow(toDays);
    PCCERT_CONTEXT certificate =
        CertCreateSelfSignCertificate(0, &name, 0, nullptr, nullptr, &start, &end, nullptr);
    LocalFree(encoded);
    if (certificate == nullptr)
        throw std::runtime_error("no certificate: error " + std::to_string(GetLastError()));
    std::string der(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                    certificate->cbCertEncoded);
    CertFreeCertificateContext(certificate);
    return der;
}

} // namespace

std::string Pem(const Subject& subject, int validFromDays, int validToDays) {
    const std::string der = Make(subject, validFromDays, validToDays);
    const auto* bytes = reinterpret_cast<const BYTE*>(der.data());
    DWORD size = 0;
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(der.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size))
        throw std::runtime_error("not encoded");
    std::string pem(size, '\0');
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(der.size()), CRYPT_STRING_BASE64HEADER,
                              pem.data(), &size))
        throw std::runtime_error("not encoded");
    pem.resize(size);
    return pem;
}

std::string Der(const Subject& subject, int validFromDays, int validToDays) {
    return Make(subject, validFromDays, validToDays);
}

} // namespace testcert
