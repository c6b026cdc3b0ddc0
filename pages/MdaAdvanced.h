// The delivery agent's advanced settings: the sender rewriting scheme's domain and challenge in
// "mdad.cfg". The SMTP service has settings of the same names in its own file; the two are kept
// apart on purpose, so this dialog never reads or writes "smtpd.cfg".
#pragma once

#include "app/ConfigSet.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"

#include <array>
#include <string>
#include <vector>

class CMDAAdvancedDlg : public CDialogModel {
public:
    static constexpr const char* kSrsDomain = "srsDomain";
    static constexpr const char* kSrsChallenge = "srsChallenge";
    static constexpr const char* kDomainKey = "SRS.Domain";
    static constexpr const char* kChallengeKey = "SRS.Challenge";

    // Reads both keys of "mdad.cfg" and offers the local domains.
    explicit CMDAAdvancedDlg(CConfigSet& set);
    CMDAAdvancedDlg(const CMDAAdvancedDlg&) = delete; // the table points into the instance
    CMDAAdvancedDlg& operator=(const CMDAAdvancedDlg&) = delete;

    const char* Caption() const override { return "Zustelldienst-Einstellungen (erweitert)"; }
    const char* FormName() const override { return "MdaAdvancedDlg"; }
    unsigned HelpContext() const override { return help::resource::kDeliveryAdvanced; }
    std::span<const CFieldSpec> Fields() const override { return m_fields; }
    // Stores the chosen domain (none chosen: the key stays as it is) and the challenge (empty:
    // the key is removed). The same values give the same keys, however often it is asked.
    bool OnOk(CPrompter& prompter) override;

    // The local domains offered, sorted byte-wise, each once.
    const std::vector<std::string>& Domains() const { return m_domains; }

private:
    CConfigSet& m_set;
    std::vector<std::string> m_domains;
    std::vector<std::string> m_labels; // UTF-8
    // The first choice is "no domain chosen": the drop-down shows it empty.
    std::vector<CChoice> m_choices;
    std::array<CFieldSpec, 2> m_fields;
};
