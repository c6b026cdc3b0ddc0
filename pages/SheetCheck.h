// The check as the sheet runs it, on the set in memory (what OK would save), not on the files.
// The first run stands for the set as it was loaded, so that OK can ask once before it saves a
// critical finding that somebody has just made (an open relay typed a minute ago), while the
// findings the installation has lived with for years do not ask at every OK.
#pragma once

#include "pages/ConfigCheck.h"

#include <optional>
#include <string>
#include <vector>

class CSheetCheck {
public:
    explicit CSheetCheck(CheckEnvironment environment) : m_environment(std::move(environment)) {}

    // Checks the set as it is in memory now; the first run is also the one OK compares with.
    const std::vector<CFinding>& Run(CConfigSet& set);
    bool HasRun() const { return m_hasRun; }
    const std::vector<CFinding>& Findings() const { return m_findings; }

    // The critical findings of the last run that the first did not have, matched by their code,
    // file and key (a text may name a changed value of the same fault).
    std::vector<CFinding> NewCritical() const;
    // The question OK asks before it saves them (UTF-8; "Nein" the safe answer), or nothing
    // when there are none.
    std::optional<std::string> SaveQuestion() const;

private:
    CheckEnvironment m_environment;
    std::vector<CFinding> m_loaded;
    std::vector<CFinding> m_findings;
    bool m_hasRun = false;
};
