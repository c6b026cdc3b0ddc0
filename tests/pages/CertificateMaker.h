// Self-signed certificates made in the test with the OpenSSL API, as the certificate folder of
// the machine would hold them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testcert {

// The subject's attributes in order: short name ("CN", "O", "C") and value in UTF-8.
using Subject = std::vector<std::pair<std::string, std::string>>;

// One certificate valid from validFromDays to validToDays around now (both negative: expired).
std::string Pem(const Subject& subject, int validFromDays = 0, int validToDays = 30);
std::string Der(const Subject& subject, int validFromDays = 0, int validToDays = 30);

} // namespace testcert
