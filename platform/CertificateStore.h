// The server certificates installed on the machine, as the certificate choice of the server
// dialogs lists them: one subject name per certificate.
//
// On POSIX the store is a folder of certificate files, PEM (a file may hold several
// certificates) or DER: KORVANE_CERT_DIR when it is set, otherwise kDefaultCertificateDir. On
// Windows it is the machine's certificate store "MY", unless KORVANE_CERT_DIR names a folder. The
// store is opened, read one certificate at a time and closed again, so that a caller can tell
// the user which of the two steps failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

inline constexpr const char* kDefaultCertificateDir = "/etc/korvane/certs";
inline constexpr const char* kCertificateDirVariable = "KORVANE_CERT_DIR";

// The longest subject name handed out, in characters; a longer one is cut there, never inside
// a character.
inline constexpr std::size_t kSubjectNameLimit = 127;
// What is read of one file at most: a larger file is no certificate file and is skipped.
inline constexpr std::size_t kCertificateFileLimit = 1024 * 1024;
// Certificates taken from one file at most (a bundle beyond that is cut off).
inline constexpr std::size_t kCertificatesPerFileLimit = 1000;

class CertificateStore {
public:
    virtual ~CertificateStore() = default;

    // False when the store cannot be opened (the folder is missing or unreadable).
    virtual bool Open() = 0;
    // The subject of the next certificate in simple-name form: the values of the subject's
    // attributes in their order, joined with ", " (values of one multi-valued part with " + "),
    // in UTF-8, at most kSubjectNameLimit characters. Control characters of a value become "?":
    // the name ends up as the value of a line of a ".cfg" file. Empty for a certificate without a
    // subject. False at the end. Files that hold no readable certificate are passed over.
    virtual bool Next(std::string& subject) = 0;
    // The end of the validity of the certificate the last Next handed out, in seconds since
    // 1970 (UTC); nothing when the store cannot tell.
    virtual std::optional<std::int64_t> ExpiryOfLast() const { return std::nullopt; }
    // False when the store could not be closed properly.
    virtual bool Close() = 0;
};

// The folder of certificates at directory.
std::unique_ptr<CertificateStore> MakeFolderCertificateStore(std::string directory);
// The machine's store: the folder KORVANE_CERT_DIR names, or kDefaultCertificateDir (on Windows
// the local machine's "MY" store, opened read-only).
std::unique_ptr<CertificateStore> MakeSystemCertificateStore();

} // namespace platform
