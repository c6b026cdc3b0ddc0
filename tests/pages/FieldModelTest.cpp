// The data exchange every page and dialog shares, on a small model of its own: what is refused
// with which German text, where the exchange stops, and when the view must redraw.
#include "pages/FieldModel.h"
#include "tests/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <array>
#include <map>

namespace {

using namespace std::string_literals;

class CSampleModel : public CFieldModel {
public:
    std::span<const CFieldSpec> Fields() const override { return kFields; }

private:
    static constexpr std::array<CFieldSpec, 4> kFields{{
        {"name", FieldType::Text, "&Name:", 0, 5},
        {"threads", FieldType::Number, "&Threads:", 1, 0, 2, 100, 1, 200},
        {"flag", FieldType::Check, "&Aktiv", 2},
        {"note", FieldType::Text, "&Notiz:", 3},
    }};
};

using CKindRecorder = CScriptedPrompter; // it notes the kind of each message box

const char* const kRange = "Geben Sie eine ganze Zahl zwischen 2 und 100 ein.";

class FieldModelTest : public testing::Test {
protected:
    CSampleModel model;
    const CFieldSpec& threads = *model.FindField("threads");
    const CFieldSpec& name = *model.FindField("name");
};

TEST_F(FieldModelTest, NumbersAreAcceptedOnlyAsWholeNumbersInTheAcceptedRange) {
    EXPECT_EQ(CFieldModel::Refusal(threads, "2"), std::nullopt);
    EXPECT_EQ(CFieldModel::Refusal(threads, "100"), std::nullopt);
    EXPECT_EQ(CFieldModel::Refusal(threads, "1"), kRange);
    EXPECT_EQ(CFieldModel::Refusal(threads, "101"), kRange);
    // The arrows reach further than what is accepted.
    EXPECT_EQ(CFieldModel::Refusal(threads, "150"), kRange);
    EXPECT_EQ(CFieldModel::Refusal(threads, "-5"), kRange);
    for (const char* noNumber : {"", "abc", "12a", "1.5", "99999999999999999999999"})
        EXPECT_EQ(CFieldModel::Refusal(threads, noNumber), kRange) << noNumber;
}

TEST_F(FieldModelTest, TextsAreRefusedOnlyBeyondTheirLimit) {
    EXPECT_EQ(CFieldModel::Refusal(name, "abcde"), std::nullopt);
    EXPECT_EQ(CFieldModel::Refusal(name, "abcdef"), "Geben Sie nicht mehr als 5 Zeichen ein.");
    EXPECT_EQ(CFieldModel::Refusal(*model.FindField("note"), std::string(5000, 'x')), std::nullopt);
    EXPECT_EQ(CFieldModel::Refusal(*model.FindField("flag"), "anything"), std::nullopt);
}

TEST_F(FieldModelTest, ControlCharactersAreRefusedButAMultiLineTextKeepsItsLineBreaks) {
    const CFieldSpec& note = *model.FindField("note");
    for (const std::string& bad :
         {"a\r\nb: c"s, "a\nb"s, "a\rb"s, "a\tb"s, "a\x7F"s, "\x1B[0m"s, "a\0b"s})
        EXPECT_EQ(CFieldModel::Refusal(note, bad), "Der Wert darf keine Zeilenumbr\xFC"
                                                   "che, Tabulatoren oder anderen Steuerzeichen "
                                                   "enthalten.")
            << bad;
    // Letters of the code page above 127 are text, not control characters.
    EXPECT_EQ(CFieldModel::Refusal(note, "\xC4rger \x80 \x9F"), std::nullopt);
    // The limit is told first, as before.
    EXPECT_EQ(CFieldModel::Refusal(name, "abcde\n"), "Geben Sie nicht mehr als 5 Zeichen ein.");

    const CFieldSpec reply{
        .id = "reply", .type = FieldType::Text, .label = "", .flags = kFieldMultiLine};
    EXPECT_EQ(CFieldModel::Refusal(reply, "Hallo,\r\n\tich bin fort.\r\n"), std::nullopt);
    for (const std::string& bad : {"a\0b"s, "a\x1B"s, "\x7F"s})
        EXPECT_EQ(CFieldModel::Refusal(reply, bad), "Der Text darf au\xDF"
                                                    "er Zeilenumbr\xFC"
                                                    "chen und Tabulatoren keine Steuerzeichen "
                                                    "enthalten.")
            << bad;
}

TEST_F(FieldModelTest, AcceptedExchangeTakesEveryFieldAndNormalisesNumbers) {
    std::map<std::string, std::string> controls{
        {"name", "\xC4rger"}, {"threads", " 007 "}, {"flag", "1"}, {"note", "frei"}};
    CScriptedPrompter prompter;
    const auto refused =
        model.TakeFields([&](const CFieldSpec& field) { return controls[field.id]; }, prompter);
    EXPECT_EQ(refused, std::nullopt);
    EXPECT_EQ(model.Value("name"), "\xC4rger"); // five characters in the code page
    EXPECT_EQ(model.Value("threads"), "7");
    EXPECT_EQ(model.Number("threads"), 7);
    EXPECT_EQ(model.Value("flag"), "1");
    EXPECT_EQ(model.Value("note"), "frei");
    EXPECT_TRUE(prompter.events().empty());
}

TEST_F(FieldModelTest, FirstRefusedFieldStopsTheExchangeAndIsNamed) {
    model.SetValue("name", "alt");
    model.SetNumber("threads", 10);
    model.SetValue("flag", "0");
    model.SetValue("note", "alt");
    std::map<std::string, std::string> controls{
        {"name", "neu"}, {"threads", "101"}, {"flag", "1"}, {"note", "neu"}};
    std::vector<std::string> read;
    CKindRecorder prompter;
    prompter.ExpectText(kRange);
    const auto refused = model.TakeFields(
        [&](const CFieldSpec& field) {
            read.push_back(field.id);
            return controls[field.id];
        },
        prompter);
    EXPECT_EQ(refused, "threads");
    EXPECT_EQ(prompter.kinds, std::vector<MessageKind>{MessageKind::Warning});
    // Taken before the refusal, kept as they were from it on, and not even read after it.
    EXPECT_EQ(model.Value("name"), "neu");
    EXPECT_EQ(model.Value("threads"), "10");
    EXPECT_EQ(model.Value("flag"), "0");
    EXPECT_EQ(model.Value("note"), "alt");
    EXPECT_EQ(read, (std::vector<std::string>{"name", "threads"}));
}

TEST_F(FieldModelTest, RevisionCountsOnlyRealChanges) {
    model.SetValue("flag", "0");
    model.SetValue("note", "");
    unsigned revision = model.Revision();
    model.SetValue("name", "a");
    EXPECT_EQ(model.Revision(), ++revision);
    model.SetValue("name", "a");
    EXPECT_EQ(model.Revision(), revision);
    model.SetNumber("threads", 5);
    EXPECT_EQ(model.Revision(), ++revision);

    model.SetEnabled("name", false);
    EXPECT_EQ(model.Revision(), ++revision);
    EXPECT_FALSE(model.IsEnabled("name"));
    model.SetEnabled("name", false);
    EXPECT_EQ(model.Revision(), revision);
    model.SetEnabled("name", true);
    EXPECT_EQ(model.Revision(), ++revision);
    model.SetEnabled("threads", true); // already enabled
    EXPECT_EQ(model.Revision(), revision);

    // An exchange that brings back what the model holds needs no redraw.
    CScriptedPrompter prompter;
    model.TakeFields([&](const CFieldSpec& field) { return model.Value(field.id); }, prompter);
    EXPECT_EQ(model.Revision(), revision);
}

} // namespace
