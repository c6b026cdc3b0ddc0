#include "app/Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The code points of Windows-1252 bytes 0x80..0x9F; 0 where the code page defines no character.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Strict UTF-8 decoding: no overlong forms, no surrogates, nothing above U+10FFFF.
std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    std::u32string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, cp = lead & 0x1F, min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, cp = lead & 0x0F, min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, cp = lead & 0x07, min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + extra >= text.size())
            return std::nullopt; // cut short
        for (int k = 1; k <= extra; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

// The Windows-1252 byte of a code point, if the code page has it.
std::optional<unsigned char> ToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<unsigned char>(cp);
    for (int k = 0; k < 32; ++k)
        if (kHighControls[k] != 0 && kHighControls[k] == cp)
            return static_cast<unsigned char>(0x80 + k);
    return std::nullopt;
}

std::vector<strings::Entry> Entries() {
    return std::vector<strings::Entry>(strings::TableBegin(), strings::TableEnd());
}

} // namespace

TEST(StringTable, DecoderRejectsBrokenUtf8) {
    // The checks below rest on this decoder; make sure it is strict enough to catch a bad text.
    EXPECT_TRUE(DecodeUtf8("m\xC3\xBC"
                           "de"));
    EXPECT_FALSE(DecodeUtf8("m\xFC"
                            "de"));           // a Windows-1252 byte pasted into the source
    EXPECT_FALSE(DecodeUtf8("\xC3"));         // cut short at the end
    EXPECT_FALSE(DecodeUtf8("\xC0\xBC"));     // overlong
    EXPECT_FALSE(DecodeUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_EQ(ToCp1252(U'\u2014'), 0x97);
    EXPECT_FALSE(ToCp1252(U'\u2192'));
    EXPECT_FALSE(ToCp1252(0x81));
}

TEST(StringTable, IsSortedWithUniqueIds) {
    const auto entries = Entries();
    ASSERT_FALSE(entries.empty());
    for (std::size_t i = 1; i < entries.size(); ++i)
        EXPECT_LT(entries[i - 1].id, entries[i].id) << "after id " << entries[i - 1].id;
}

TEST(StringTable, EveryTextIsValidUtf8InWindows1252) {
    for (const auto& e : Entries()) {
        ASSERT_NE(e.utf8, nullptr) << e.id;
        const auto decoded = DecodeUtf8(e.utf8);
        ASSERT_TRUE(decoded) << "id " << e.id << " is not valid UTF-8";
        std::string expected;
        for (char32_t cp : *decoded) {
            const auto byte = ToCp1252(cp);
            ASSERT_TRUE(byte) << "id " << e.id << " holds U+" << std::hex
                              << static_cast<unsigned long>(cp) << ", which Windows-1252 lacks";
            expected.push_back(static_cast<char>(*byte));
        }
        // What message boxes show and files receive: the same text, one byte per character.
        EXPECT_EQ(strings::Text(e.id), expected) << e.id;
    }
}

TEST(StringTable, NoTextIsEmptyOrCarriesStrayWhitespace) {
    for (const auto& e : Entries()) {
        const std::string_view text = e.utf8;
        ASSERT_FALSE(text.empty()) << e.id;
        EXPECT_NE(text.front(), ' ') << e.id;
        EXPECT_NE(text.back(), ' ') << e.id;
        EXPECT_NE(text.back(), '\n') << e.id;
        // Line breaks are held as "\n" alone; whoever writes a file adds the CR.
        for (char c : text) {
            const unsigned char u = static_cast<unsigned char>(c);
            EXPECT_TRUE(u >= 0x20 || c == '\n') << "id " << e.id << " control byte " << int(u);
        }
    }
}

TEST(StringTable, AllIdsListsExactlyTheTable) {
    std::vector<unsigned> ids;
    for (const auto& e : Entries())
        ids.push_back(e.id);
    EXPECT_EQ(strings::AllIds(), ids);
}

TEST(StringTable, UnknownNumberGivesEmptyText) {
    EXPECT_EQ(strings::Text(0), "");
    EXPECT_EQ(strings::Text(154), "");
    EXPECT_EQ(strings::Text(57343), "");
}

TEST(StringTable, ProgramTitle) {
    EXPECT_EQ(strings::Text(128), "Korvane MailServer 4.0 Configurator");
    EXPECT_EQ(strings::Text(57344), "Korvane MailServer 4.0 Configurator");
}

TEST(StringTable, UmlautsBecomeSingleBytes) {
    const std::string& rights = strings::Text(124);
    EXPECT_EQ(rights, "Sie m\xFCssen Administrator-Rechte besitzen um die MailServer-Einstellungen "
                      "ver\xE4ndern und die Dienste neustarten zu k\xF6nnen.");
    EXPECT_EQ(rights.find("\xC3"), std::string::npos); // no UTF-8 left over
#ifdef _WIN32
    EXPECT_EQ(strings::Text(134),
              "Zur Zeitsteuerung des Mailverkehrs mu\xDF der Windows-Taskplaner "
              "aktiviert werden.");
#else
    EXPECT_EQ(strings::Text(134),
              "Zur Zeitsteuerung des Mailverkehrs mu\xDF der cron-Dienst aktiviert werden.");
#endif
    EXPECT_EQ(strings::Text(139),
              "Ihre Einstellungen erfordern die L\xF6schung der Scriptdatei f\xFCr die sofortige "
              "Zustellung. Dabei gehen eventuelle benutzerdefinierte \xC4nderungen von Ihnen "
              "verloren. Soll die Datei gel\xF6scht werden?");
}

TEST(StringTable, KeepsTheWordingUsersKnow) {
    // Slips of the shown texts stay as they are; only the one that named the wrong directory
    // is mended.
    EXPECT_EQ(strings::Text(108), "Konnte die Bnutzerliste nicht erstellen.");
    EXPECT_EQ(strings::Text(145), "Soll die Weiterletung wirklich gel\xF6scht werden?");
    EXPECT_EQ(strings::Text(57351),
              "Fehler: Die Pfade der eingehenden und der ausgehenden Warteschlange verweisen auf "
              "dasselbe Verzeichnis.\n\nF\xFCr den regul\xE4ren Betrieb ist eine derartige "
              "Einstellung nicht geeignet. Bitte korrigieren Sie die Pfadangaben.");
    EXPECT_EQ(strings::Text(57347),
              "Die Angaben zum lokalen Warteschlangenverzeichnis (\"QueueDir\") in den "
              "verschiedenen Konfigurationsdateien weichen voneinander ab. Die entsprechenden "
              "Konfigurationsfelder werden deaktiviert, um die benutzerdefinierten Einstellungen "
              "zu erhalten.");
    EXPECT_EQ(strings::Text(158), "Bitte w\xE4hlen Sie das Ablageverzeichnis f\xFCr die "
                                  "Benutzerkonten:");
}

#ifdef _WIN32
TEST(StringTable, NewmailScriptCallsTheSendmailScript) {
    EXPECT_EQ(strings::Text(135), "@echo off\ncall \"%MAILCONFIGDIR%\\sendmail.cmd\"");
}

TEST(StringTable, SendmailScriptIsTheBatchFileLineByLine) {
    const std::string& script = strings::Text(136);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = script.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(script.substr(start, nl - start));
    lines.push_back(script.substr(start));
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0], "@echo off");
    EXPECT_EQ(lines[2], "if \"%1\" == \"-i\" goto sendmail");
    // "%%a" is the batch loop variable, not a format placeholder: it must stay doubled.
    EXPECT_EQ(lines[6],
              "for %%a in ( *.eml ) do call \"%MAILCONFIGDIR%\\sendmail.cmd\" -i \"%%a\"");
    EXPECT_EQ(lines[9], ":sendmail");
    EXPECT_EQ(lines[11], "rem " + std::string(70, '*'));
    EXPECT_EQ(lines[14], "\"%MAILCONFIGDIR%\\smtpc\" -mx \"%2\"");
    EXPECT_EQ(lines[16], lines[11]);
    EXPECT_EQ(lines[19], "if errorlevel 1 \"%MAILCONFIGDIR%\\reply\" \"%2\" -t \"%2.err\" -o");
    EXPECT_EQ(lines[22], "popd");
    for (std::size_t i : {1u, 3u, 8u, 10u, 13u, 15u, 18u, 20u})
        EXPECT_EQ(lines[i], "") << "line " << i + 1;
}
#else
TEST(StringTable, NoTextSendsTheAdministratorToAWindowsPlace) {
    std::vector<std::string> texts = {strings::Literal(strings::kHostNameIncomplete),
                                      strings::Literal(strings::kStartingScheduler)};
    for (unsigned id : strings::AllIds())
        texts.push_back(strings::Text(id));
    for (const std::string& text : texts)
        for (const char* place : {"Systemsteuerung", "Taskplaner", "Computername", "Schedule",
                                  "@echo", ".cmd", "%MAILCONFIGDIR%"})
            EXPECT_EQ(text.find(place), std::string::npos) << place << " in: " << text;
    EXPECT_NE(strings::Literal(strings::kHostNameIncomplete).find("hostnamectl set-hostname"),
              std::string::npos);
}
#endif
