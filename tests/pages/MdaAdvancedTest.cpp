// The delivery agent's advanced settings: which domains are offered and selected, and that only
// "mdad.cfg" is written.
#include "pages/MdaAdvanced.h"

#include "tests/ScriptedPrompter.h"

#include <gtest/gtest.h>

namespace {

using M = CMDAAdvancedDlg;

TEST(MdaAdvanced, OffersEachDomainOnceAndSelectsByBeginning) {
    CConfigSet set;
    for (const char* domain : {"b.example", "a.example", "b.example", "B.example"})
        set.domains.AddTail(domain);
    set.mdad.SetString(M::kDomainKey, "B");
    set.mdad.SetString(M::kChallengeKey, "geheim");
    CMDAAdvancedDlg dialog(set);
    EXPECT_EQ(dialog.Domains(), (std::vector<std::string>{"B.example", "a.example", "b.example"}));
    // The search starts at the second entry and comes round to the first.
    EXPECT_EQ(dialog.Value(M::kSrsDomain), "b.example");
    EXPECT_EQ(dialog.Value(M::kSrsChallenge), "geheim");
    EXPECT_EQ(dialog.FindField(M::kSrsDomain)->choices.size(), 3u) << "no blank entry";

    // A stored domain that no entry begins with selects nothing; OK keeps it and writes only
    // "mdad.cfg", also when asked twice.
    set.mdad.SetString(M::kDomainKey, "other.example");
    set.smtpd.SetString(M::kDomainKey, "smtp.example");
    CMDAAdvancedDlg unknown(set);
    EXPECT_EQ(unknown.Value(M::kSrsDomain), "");
    unknown.SetValue(M::kSrsChallenge, "neu");
    CScriptedPrompter user;
    EXPECT_TRUE(unknown.OnOk(user));
    EXPECT_TRUE(unknown.OnOk(user));
    EXPECT_EQ(set.mdad.GetString(M::kDomainKey, "-"), "other.example");
    EXPECT_EQ(set.mdad.GetString(M::kChallengeKey, "-"), "neu");
    EXPECT_EQ(set.smtpd.GetString(M::kDomainKey, "-"), "smtp.example");
    EXPECT_FALSE(set.smtpd.Contains(M::kChallengeKey));

    // A picked domain is stored; a cleared challenge removes its key.
    unknown.SetValue(M::kSrsDomain, "a.example");
    unknown.SetValue(M::kSrsChallenge, "");
    EXPECT_TRUE(unknown.OnOk(user));
    EXPECT_EQ(set.mdad.GetString(M::kDomainKey, "-"), "a.example");
    EXPECT_FALSE(set.mdad.Contains(M::kChallengeKey));
}

TEST(MdaAdvanced, WithoutDomainsNothingIsSelectedAndNoKeyAppears) {
    CConfigSet set;
    CMDAAdvancedDlg dialog(set);
    EXPECT_TRUE(dialog.Domains().empty());
    EXPECT_TRUE(dialog.FindField(M::kSrsDomain)->choices.empty());
    EXPECT_EQ(CFieldModel::Refusal(*dialog.FindField(M::kSrsDomain), ""), std::nullopt)
        << "nothing chosen is accepted";
    dialog.SetValue(M::kSrsChallenge, "x");
    CScriptedPrompter user;
    EXPECT_TRUE(RunDialogAccepted(user.ExpectDialog([](CDialogModel&) { return true; }), dialog));
    EXPECT_FALSE(set.mdad.Contains(M::kDomainKey));
    EXPECT_EQ(set.mdad.GetString(M::kChallengeKey, ""), "x");
}

} // namespace
