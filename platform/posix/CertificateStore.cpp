// The certificate store as a folder of PEM or DER files, read with OpenSSL.
#include "platform/CertificateStore.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <vector>

namespace platform {
namespace {

// A folder with more names than this is read no further: the list would be of no use anyway.
constexpr std::size_t kNamesLimit = 10000;

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

// The subject as its attribute values in order. Control characters become "?": the name ends
// up as a value in a configuration file, where a line break would start a new entry.
std::string SimpleName(const X509_NAME* name) {
    std::string simple;
    int previousSet = -1;
    const int count = X509_NAME_entry_count(name);
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        if (length < 0)
            continue;
        const int set = X509_NAME_ENTRY_set(entry);
        if (!simple.empty())
            simple += set == previousSet ? " + " : ", ";
        previousSet = set;
        for (int k = 0; k < length; ++k) {
            const unsigned char c = utf8[k];
            simple += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        }
        OPENSSL_free(utf8);
        if (simple.size() > 4 * kSubjectNameLimit) // enough for the characters kept
            break;
    }
    CutCharacters(simple, kSubjectNameLimit);
    return simple;
}

// No pass phrase is ever asked for: certificates are not encrypted, and a prompt on the
// terminal would hang the program.
int NoPassPhrase(char*, int, int, void*) {
    return -1;
}

struct Certificate {
    std::string subject;
    std::optional<std::int64_t> notAfter;
};

Certificate Read(X509* certificate) {
    Certificate read{SimpleName(X509_get_subject_name(certificate)), std::nullopt};
    std::tm end{};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &end) == 1)
        read.notAfter = static_cast<std::int64_t>(timegm(&end));
    return read;
}

void AddSubjectsOf(const std::string& bytes, std::deque<Certificate>& subjects) {
    std::size_t found = 0;
    if (BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()))) {
        while (found < kCertificatesPerFileLimit) {
            X509* certificate = PEM_read_bio_X509_AUX(bio, nullptr, &NoPassPhrase, nullptr);
            if (!certificate)
                break;
            subjects.push_back(Read(certificate));
            X509_free(certificate);
            ++found;
        }
        BIO_free(bio);
    }
    if (found == 0) {
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509* certificate = d2i_X509(nullptr, &data, static_cast<long>(bytes.size()))) {
            subjects.push_back(Read(certificate));
            X509_free(certificate);
        }
    }
    // What failed to parse is of no interest to anyone later.
    ERR_clear_error();
}

// The bytes of a regular file of at most kCertificateFileLimit bytes; false for anything else.
// Never blocks: a FIFO planted in the folder is passed over.
bool ReadCertificateFile(int folder, const char* name, std::string& bytes) {
    const int fd = openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat status {};
    bool ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
              static_cast<unsigned long long>(status.st_size) <= kCertificateFileLimit;
    if (ok) {
        bytes.assign(kCertificateFileLimit + 1, '\0');
        std::size_t have = 0;
        while (have < bytes.size()) {
            const ssize_t got = read(fd, bytes.data() + have, bytes.size() - have);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            have += static_cast<std::size_t>(got);
        }
        // A file that grew past the limit while it was read is skipped as well.
        ok = ok && have > 0 && have <= kCertificateFileLimit;
        bytes.resize(have);
    }
    close(fd);
    return ok;
}

class FolderCertificateStore : public CertificateStore {
public:
    explicit FolderCertificateStore(std::string directory) : m_directory(std::move(directory)) {}
    ~FolderCertificateStore() override {
        if (m_folder)
            closedir(m_folder);
    }

    bool Open() override {
        if (m_folder)
            return true;
        m_folder = opendir(m_directory.c_str());
        if (!m_folder)
            return false;
        // Read in name order, so that the same folder always gives the same list.
        while (m_names.size() < kNamesLimit) {
            const dirent* entry = readdir(m_folder);
            if (!entry)
                break;
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                m_names.push_back(name);
        }
        std::sort(m_names.begin(), m_names.end());
        return true;
    }

    bool Next(std::string& subject) override {
        if (!m_folder)
            return false;
        while (m_pending.empty() && m_nextName < m_names.size()) {
            std::string bytes;
            if (ReadCertificateFile(dirfd(m_folder), m_names[m_nextName++].c_str(), bytes))
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
        if (!m_folder)
            return true;
        DIR* folder = m_folder;
        m_folder = nullptr;
        return closedir(folder) == 0;
    }

private:
    std::string m_directory;
    DIR* m_folder = nullptr;
    std::vector<std::string> m_names;
    std::size_t m_nextName = 0;
    std::deque<Certificate> m_pending;
    std::optional<std::int64_t> m_lastExpiry;
};

} // namespace

std::unique_ptr<CertificateStore> MakeFolderCertificateStore(std::string directory) {
    return std::make_unique<FolderCertificateStore>(std::move(directory));
}

std::unique_ptr<CertificateStore> MakeSystemCertificateStore() {
    const char* folder = std::getenv(kCertificateDirVariable);
    return MakeFolderCertificateStore(folder && *folder ? folder : kDefaultCertificateDir);
}

} // namespace platform
