#include "pages/SheetCheck.h"

#include <algorithm>

const std::vector<CFinding>& CSheetCheck::Run(CConfigSet& set) {
    m_findings = CheckConfiguration(set, m_environment);
    if (!m_hasRun) {
        m_loaded = m_findings;
        m_hasRun = true;
    }
    return m_findings;
}

std::vector<CFinding> CSheetCheck::NewCritical() const {
    std::vector<CFinding> added;
    for (const CFinding& finding : m_findings) {
        if (finding.severity != Severity::Critical)
            continue;
        const bool known = std::any_of(m_loaded.begin(), m_loaded.end(), [&](const CFinding& old) {
            return old.severity == Severity::Critical && std::string_view(old.code) == finding.code &&
                   old.file == finding.file && old.key == finding.key;
        });
        if (!known)
            added.push_back(finding);
    }
    return added;
}

std::optional<std::string> CSheetCheck::SaveQuestion() const {
    const std::vector<CFinding> added = NewCritical();
    if (added.empty())
        return std::nullopt;
    // A handful is read; more would push the buttons off the screen.
    constexpr std::size_t kNamed = 5;
    std::string text = added.size() == 1
                           ? "Seit dem Start ist ein kritischer Befund hinzugekommen:\n"
                           : "Seit dem Start sind " + std::to_string(added.size()) +
                                 " kritische Befunde hinzugekommen:\n";
    for (std::size_t i = 0; i < added.size() && i < kNamed; ++i)
        text += "\n\xE2\x80\xA2 " + added[i].text;
    if (added.size() > kNamed)
        text += "\n\xE2\x80\xA2 und " + std::to_string(added.size() - kNamed) + " weitere";
    text += "\n\nSoll die Konfiguration trotzdem gespeichert werden?";
    return text;
}
