#include "pages/MdaAdvanced.h"

#include "Common/Ansi.h"

#include <algorithm>

namespace {

constexpr CFieldSpec kDomainField{.id = CMDAAdvancedDlg::kSrsDomain,
                                  .type = FieldType::Choice,
                                  .label = "Domain für &SRS-Adressumschreibung:",
                                  .row = 0,
                                  // Nothing chosen (no domains, or a stored one not offered)
                                  // is accepted and leaves the key alone.
                                  .flags = kFieldMayBeEmpty,
                                  .key = CMDAAdvancedDlg::kDomainKey};
constexpr CFieldSpec kChallengeField{.id = CMDAAdvancedDlg::kSrsChallenge,
                                     .type = FieldType::Text,
                                     .label = "&Challenge für SRS-Adressumschreibung:",
                                     .row = 1,
                                     .key = CMDAAdvancedDlg::kChallengeKey};

} // namespace

CMDAAdvancedDlg::CMDAAdvancedDlg(CConfigSet& set)
    : m_set(set), m_fields{kDomainField, kChallengeField} {
    // Sorted byte by byte with letter case significant, each domain once, in the order the
    // domains list gives them where they are equal.
    for (auto position = m_set.domains.GetHeadPosition(); position;) {
        const std::string_view domain = m_set.domains.GetNext(position);
        auto greater = std::upper_bound(m_domains.begin(), m_domains.end(), domain);
        if (greater != m_domains.begin() && *(greater - 1) == domain)
            continue;
        m_domains.insert(greater, std::string(domain));
    }
    m_labels.reserve(m_domains.size());
    for (const std::string& domain : m_domains)
        m_labels.push_back(ansi::ToUtf8(domain));
    for (std::size_t i = 0; i < m_domains.size(); ++i)
        m_choices.push_back({.value = m_domains[i].c_str(), .label = m_labels[i].c_str()});
    m_fields[0].choices = m_choices;

    // The stored domain selects the first entry that begins with it, letter case aside,
    // searching from the second entry round to the first; an empty or absent one selects none.
    const std::string stored = m_set.mdad.GetString(kDomainKey, "");
    std::string selected;
    if (!stored.empty() && !m_domains.empty()) {
        const std::size_t count = m_domains.size();
        for (std::size_t step = 0; step < count; ++step) {
            const std::string& candidate = m_domains[(1 + step) % count];
            if (ansi::StartsWithNoCase(candidate, stored)) {
                selected = candidate;
                break;
            }
        }
    }
    SetValue(kSrsDomain, selected);
    SetValue(kSrsChallenge, m_set.mdad.GetString(kChallengeKey, ""));
}

bool CMDAAdvancedDlg::OnOk(CPrompter& /*prompter*/) {
    // Nothing chosen leaves the key alone: this dialog cannot remove a domain it did not offer.
    if (!Value(kSrsDomain).empty())
        m_set.mdad.SetString(kDomainKey, Value(kSrsDomain));
    m_set.mdad.SetString(kChallengeKey, Value(kSrsChallenge));
    return true;
}
