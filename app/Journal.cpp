#include "app/Journal.h"

#include "Common/Ansi.h"

std::string CJournal::Describe(const Entry& entry) {
    struct Text {
        const char* done;
        const char* wouldBe;
    };
    static constexpr Text kTexts[] = {
        {"Kontoordner angelegt", "Kontoordner würde angelegt"},
        {"Vorhandener Kontoordner als Konto übernommen",
         "Vorhandener Kontoordner würde als Konto übernommen"},
        {"Konto geändert (Kennwort, Einstellungen, automatische Antwort)",
         "Konto würde geändert (Kennwort, Einstellungen, automatische Antwort)"},
        {"Kontoordner beiseitegelegt, gelöscht nach dem Speichern", "Kontoordner würde gelöscht"},
        {"Zugriffsliste geschrieben", "Zugriffsliste würde geschrieben"},
        {"Script angelegt", "Script würde angelegt"},
        {"Script gelöscht", "Script würde gelöscht"},
        {"Zustellzeit eingetragen", "Zustellzeit würde eingetragen"},
        {"Zustellzeit entfernt", "Zustellzeit würde entfernt"},
        {"Verzeichnis angelegt", "Verzeichnis würde angelegt"},
    };
    const Text& text = kTexts[static_cast<int>(entry.kind)];
    return ansi::FromUtf8(entry.done ? text.done : text.wouldBe) + ": " + entry.subject;
}
