// The certificate list over the system's certificate functions: the machine's personal store,
// or, when KORVANE_CERT_DIR names one, a folder of PEM or DER files decoded with the same
// functions.
#include "platform/win32/CertificateStore.h"
#include "platform/win32/Text.h"

#include <algorithm>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

using win32::Utf8FromWide;
using win32::WideFromAnsi;
namespace {

// A folder with more names than this is read no further: the list would be of no use anyway.
constexpr std::size_t kNamesLimit = 10000;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Cuts UTF-8 text after limit characters, never inside one.
void CutCharacters(std::string& text, std::size_t limit) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (characters == limit) {
            text.resize(i);
            return;
        }
        ++characters;
    }
}

// The subject in the simple-name form of the system, made by the same call and with the same
// arguments the suite's services use to find the certificate by the stored name, so that the
// two texts agree to the byte (values that hold a separator come in quotes there). Control
// characters become "?": the name ends up as a value in a configuration file, where a line break
// would start a new entry.
std::string SimpleName(PCCERT_CONTEXT certificate) {
    DWORD form = CERT_SIMPLE_NAME_STR;
    const DWORD length = CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &form, nullptr, 0);
    if (length <= 1) // the terminator alone: no subject
        return {};
    std::wstring name(length, L'\0');
    const DWORD written =
        CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &form, name.data(), length);
    name.resize(written > 0 ? written - 1 : 0);
    // The C0 and C1 controls and the two Unicode line breaks: none may reach a line of a file.
    for (wchar_t& c : name) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029)
            c = L'?';
    }
    std::string simple = Utf8FromWide(name);
    CutCharacters(simple, kSubjectNameLimit);
    return simple;
}

std::optional<std::int64_t> NotAfter(PCCERT_CONTEXT certificate) {
    const FILETIME& end = certificate->pCertInfo->NotAfter;
    // 100-nanosecond steps since 1601 to seconds since 1970.
    const std::int64_t ticks =
        (static_cast<std::int64_t>(end.dwHighDateTime) << 32) | end.dwLowDateTime;
    return (ticks - 116444736000000000LL) / 10000000LL;
}

struct Certificate {
    std::string subject;
    std::optional<std::int64_t> notAfter;
};

// The length of the DER element at the start of bytes (tag, length, contents), or 0 when the
// bytes do not start with a complete one. A certificate file may carry more after it (trust
// settings, padding), which the certificate functions would refuse.
std::size_t DerElementLength(const unsigned char* bytes, std::size_t size) {
    if (size < 2 || bytes[0] != 0x30)
        return 0;
    std::size_t length = bytes[1];
    std::size_t header = 2;
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || size < 2 + count)
            return 0;
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | bytes[2 + i];
        header += count;
    }
    return header + length <= size ? header + length : 0;
}

bool AddDer(const unsigned char* bytes, std::size_t size, std::deque<Certificate>& subjects) {
    const std::size_t length = DerElementLength(bytes, size);
    if (length == 0)
        return false;
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(kEncoding, bytes, static_cast<DWORD>(length));
    if (!certificate)
        return false;
    subjects.push_back({SimpleName(certificate), NotAfter(certificate)});
    CertFreeCertificateContext(certificate);
    return true;
}

// The PEM blocks that hold a certificate; other blocks (a private key beside it) are passed
// over. A block that does not decode ends the file, as a broken bundle is not read further.
std::size_t AddPem(const std::string& bytes, std::deque<Certificate>& subjects) {
    static constexpr std::string_view kBegin = "-----BEGIN ";
    static constexpr std::string_view kLabels[] = {"CERTIFICATE", "X509 CERTIFICATE",
                                                   "TRUSTED CERTIFICATE"};
    std::size_t found = 0;
    std::size_t at = 0;
    while (found < kCertificatesPerFileLimit) {
        at = bytes.find(kBegin, at);
        if (at == std::string::npos)
            break;
        const std::size_t labelStart = at + kBegin.size();
        const std::size_t labelEnd = bytes.find("-----", labelStart);
        if (labelEnd == std::string::npos)
            break;
        const std::string label = bytes.substr(labelStart, labelEnd - labelStart);
        at = labelEnd + 5;
        if (std::find(std::begin(kLabels), std::end(kLabels), label) == std::end(kLabels))
            continue;
        const std::size_t end = bytes.find("-----END " + label + "-----", at);
        if (end == std::string::npos)
            break;
        DWORD size = 0;
        const char* body = bytes.data() + at;
        const DWORD bodyLength = static_cast<DWORD>(end - at);
        if (!CryptStringToBinaryA(body, bodyLength, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                                  nullptr) ||
            size == 0)
            break;
        std::vector<unsigned char> der(size);
        if (!CryptStringToBinaryA(body, bodyLength, CRYPT_STRING_BASE64, der.data(), &size, nullptr,
                                  nullptr) ||
            !AddDer(der.data(), size, subjects))
            break;
        ++found;
        at = end;
    }
    return found;
}

void AddSubjectsOf(const std::string& bytes, std::deque<Certificate>& subjects) {
    if (AddPem(bytes, subjects) == 0)
        (void)AddDer(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), subjects);
}

// The bytes of a regular file of at most kCertificateFileLimit bytes; false for anything else.
bool ReadCertificateFile(const std::wstring& path, std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) &&
              size.QuadPart > 0 &&
              static_cast<unsigned long long>(size.QuadPart) <= kCertificateFileLimit;
    if (ok) {
        bytes.assign(kCertificateFileLimit + 1, '\0');
        std::size_t have = 0;
        while (have < bytes.size()) {
            DWORD got = 0;
            if (!ReadFile(file, bytes.data() + have, static_cast<DWORD>(bytes.size() - have), &got,
                          nullptr)) {
                ok = false;
                break;
            }
            if (got == 0)
                break;
            have += got;
        }
        // A file that grew past the limit while it was read is skipped as well.
        ok = ok && have > 0 && have <= kCertificateFileLimit;
        bytes.resize(have);
    }
    CloseHandle(file);
    return ok;
}

class FolderCertificateStore : public CertificateStore {
public:
    explicit FolderCertificateStore(std::wstring directory) : m_directory(std::move(directory)) {
        if (!m_directory.empty() && m_directory.back() != L'\\' && m_directory.back() != L'/')
            m_directory += L'\\';
    }
    ~FolderCertificateStore() override { Close(); }

    bool Open() override {
        if (m_folder != INVALID_HANDLE_VALUE)
            return true;
        // The folder stays open until Close, as the store of the system would.
        m_folder = CreateFileW(m_directory.c_str(), FILE_LIST_DIRECTORY,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (m_folder == INVALID_HANDLE_VALUE)
            return false;
        m_names.clear();
        m_nextName = 0;
        WIN32_FIND_DATAW entry;
        const HANDLE find = FindFirstFileExW((m_directory + L'*').c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) {
            CloseHandle(m_folder);
            m_folder = INVALID_HANDLE_VALUE;
            return false;
        }
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                m_names.emplace_back(entry.cFileName);
        } while (m_names.size() < kNamesLimit && FindNextFileW(find, &entry));
        FindClose(find);
        // Read in name order, so that the same folder always gives the same list.
        std::sort(m_names.begin(), m_names.end());
        return true;
    }

    bool Next(std::string& subject) override {
        if (m_folder == INVALID_HANDLE_VALUE)
            return false;
        while (m_pending.empty() && m_nextName < m_names.size()) {
            std::string bytes;
            if (ReadCertificateFile(m_directory + m_names[m_nextName++], bytes))
                AddSubjectsOf(bytes, m_pending);
        }
        if (m_pending.empty())
            return false;
        subject = std::move(m_pending.front().subject);
        m_lastExpiry = m_pending.front().notAfter;
        m_pending.pop_front();
        return true;
    }

    std::optional<std::int64_t> ExpiryOfLast() const override { return m_lastExpiry; }

    bool Close() override {
        if (m_folder == INVALID_HANDLE_VALUE)
            return true;
        const HANDLE folder = std::exchange(m_folder, INVALID_HANDLE_VALUE);
        m_pending.clear();
        return CloseHandle(folder) != 0;
    }

private:
    std::wstring m_directory; // ends in a separator
    HANDLE m_folder = INVALID_HANDLE_VALUE;
    std::vector<std::wstring> m_names;
    std::size_t m_nextName = 0;
    std::deque<Certificate> m_pending;
    std::optional<std::int64_t> m_lastExpiry;
};

class CryptoCertificateStore : public CertificateStore {
public:
    explicit CryptoCertificateStore(std::function<HCERTSTORE()> open) : m_open(std::move(open)) {}
    ~CryptoCertificateStore() override { Close(); }

    bool Open() override {
        if (!m_store) {
            m_store = m_open();
            m_atEnd = false;
        }
        return m_store != nullptr;
    }

    bool Next(std::string& subject) override {
        // Once at the end the enumeration stays there: starting it again with no previous
        // certificate would list the store a second time.
        if (!m_store || m_atEnd)
            return false;
        // Passing the previous certificate releases it.
        m_current = CertEnumCertificatesInStore(m_store, m_current);
        if (!m_current) {
            m_atEnd = true;
            return false;
        }
        subject = SimpleName(m_current);
        m_lastExpiry = NotAfter(m_current);
        return true;
    }

    std::optional<std::int64_t> ExpiryOfLast() const override { return m_lastExpiry; }

    bool Close() override {
        if (m_current)
            CertFreeCertificateContext(std::exchange(m_current, nullptr));
        if (!m_store)
            return true;
        return CertCloseStore(std::exchange(m_store, nullptr), 0) != 0;
    }

private:
    std::function<HCERTSTORE()> m_open;
    HCERTSTORE m_store = nullptr;
    PCCERT_CONTEXT m_current = nullptr;
    bool m_atEnd = false;
    std::optional<std::int64_t> m_lastExpiry;
};

} // namespace

namespace win32 {

std::unique_ptr<CertificateStore> MakeCryptoCertificateStore(std::function<HCERTSTORE()> open) {
    return std::make_unique<CryptoCertificateStore>(std::move(open));
}

} // namespace win32

std::unique_ptr<CertificateStore> MakeFolderCertificateStore(std::string directory) {
    return std::make_unique<FolderCertificateStore>(WideFromAnsi(directory));
}

std::unique_ptr<CertificateStore> MakeSystemCertificateStore() {
    // The variable is read as wide text, so that a folder whose name the ANSI code page cannot
    // spell is still found.
    const std::wstring variable = WideFromAnsi(kCertificateDirVariable);
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(variable.c_str(), folder.data(),
                                                     static_cast<DWORD>(folder.size()));
        if (length < folder.size()) {
            folder.resize(length); // 0: not set, or set to nothing
            break;
        }
        folder.resize(length);
    }
    if (!folder.empty())
        return std::make_unique<FolderCertificateStore>(std::move(folder));
    // The personal store of the machine (not of the user), where the services look for their
    // certificate: opened as it is, never created, and read only.
    return win32::MakeCryptoCertificateStore([] {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kEncoding, 0,
                             CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG |
                                 CERT_STORE_READONLY_FLAG,
                             L"MY");
    });
}

} // namespace platform
