// korvane-configurator: the configuration program of the Korvane MailServer 4.0 suite.
//
//   korvane-configurator                  the configurator on the directory in MAILCONFIGDIR
//   korvane-configurator /RunOnce         starts the program anew and ends
//   korvane-configurator --render FOLDER  renders every page of the sheet, the pages'
//                                         dialogs and the sheet's windows to PNG files in
//                                         FOLDER and ends without writing anything
//   korvane-configurator --show-and-exit  starts as usual, ends as soon as the sheet is drawn
//                                         (messages go to standard error, nothing is written):
//                                         for measuring the start
//   korvane-configurator --help           what this says, --version the version and the
//                                         help folder; both without a display
#include "app/QuibrelApp.h"
#include "gui/HelpViewer.h"
#include "gui/QtPrompter.h"
#include "gui/QuibrelDlg.h"
#include "gui/TextCodec.h"
#include "pages/Help.h"
#include "platform/FileSystem.h"
#include "platform/Security.h"
#include "platform/ServiceManager.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QThread>
#include <QTranslator>
#include <QWidget>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Qt's own dialogs (the folder picker, the standard buttons) in German.
void LoadGermanCatalogue(QApplication& app, QTranslator& translator) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    if (translator.load(QStringLiteral("qtbase_de"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        translator.load(QStringLiteral("qtbase_de"), QStringLiteral(KORVANE_QT_TRANSLATIONS)))
        app.installTranslator(&translator);
}

// The cycle without anybody watching: messages to standard error, dialogs cancelled.
void RunUnattended(CSheet& sheet, platform::ServiceManager& services,
                   CSetPreload* preload = nullptr) {
    CUnattendedPrompter prompter;
    CAppEnvironment environment{prompter,         services,       sheet, [] { return true; },
                                [] { return 0; }, [](unsigned) {}};
    environment.preload = preload;
    CQuibrelApp quibrel(std::move(environment));
    quibrel.Run("");
}

int Render(const QString& folder, platform::ServiceManager& services) {
    CRenderSheet sheet(folder);
    RunUnattended(sheet, services);
    for (const QString& file : sheet.files())
        std::printf("%s\n", file.toLocal8Bit().constData());
    return sheet.files().isEmpty() ? 1 : 0;
}

// Answered before the toolkit starts, so that they work without a display (help2man makes the
// manual page from them at build time).
bool PrintAndEnd(int argc, char* argv[]) {
    const std::string first = argc == 2 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        std::printf(
            "Aufruf: korvane-configurator [OPTION]\n"
            "Bearbeitet die Konfiguration des Korvane MailServer 4.0 (ESMTP, POP3, IMAP4,\n"
            "Zustellung, Syslog) im Verzeichnis aus MAILCONFIGDIR in einem Dialog mit sieben\n"
            "Seiten. \"OK\" speichert alles mit Sicherungskopien in backup.cfg und fordert die\n"
            "laufenden Dienste zum Neustart auf. Das Programm schreibt die Dateien der Dienste\n"
            "und läuft deshalb als root; über das Menü startet es nach der Anmeldung bei\n"
            "polkit mit dem Verzeichnis aus /etc/default/korvane.\n"
            "\n"
            "Optionen:\n"
            "      --render ORDNER         zeichnet jede Seite und jeden Dialog als PNG-Datei\n"
            "                              in ORDNER und endet, ohne etwas zu schreiben\n"
            "      --show-and-exit         startet wie sonst und endet, sobald der Dialog\n"
            "                              gezeichnet ist (zum Messen des Starts)\n"
            "      /RunOnce                startet das Programm neu und endet\n"
            "  -h, --help                  zeigt diese Hilfe\n"
            "      --version               zeigt die Version und den Ordner der Hilfeseiten\n"
            "\n"
            "Die Befehlszeile derselben Konfiguration ist korvanectl(1).\n");
        return true;
    }
    if (first == "--version") {
        const std::string help = ProgramHelpFolder();
        const auto folder = platform::StatPath(help);
        std::printf("korvane-configurator (Korvane MailServer 4.0) %s\nHilfe: %s\n",
                    KORVANE_VERSION,
                    folder && folder->isDirectory ? help.c_str() : "nicht gefunden");
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (PrintAndEnd(argc, argv))
        return 0;
    // The set loads on a second thread while the toolkit starts and the sheet is made, for
    // the runs that show the sheet; the run takes it after the administrator test.
    const bool showsSheet =
        argc == 1 || (argc == 2 && std::string_view(argv[1]) == "--show-and-exit");
    std::optional<CSetPreload> preload;
    if (showsSheet)
        preload.emplace();
    QApplication app(argc, argv);
    QTranslator translator;
    LoadGermanCatalogue(app, translator);
    // While a large set still loads, the toolkit readies what the sheet will need of it; a
    // small one is loaded by now, and the sheet would only wait for the priming.
    if (preload && preload->Running())
        PrimeToolkit();

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    auto services = platform::CreateServiceManager();
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--render"))
        return Render(arguments[1], *services);
    if (arguments.size() == 1 && arguments[0].startsWith(QLatin1String("--render=")))
        return Render(arguments[0].mid(9), *services);
    if (arguments.size() == 1 && arguments[0] == QLatin1String("--show-and-exit")) {
        CShowOnceSheet sheet;
        RunUnattended(sheet, *services, preload ? &*preload : nullptr);
        return 0;
    }

    CQtPrompter prompter;
    // The switch is compared with the whole command line, as it was typed.
    const std::string commandLine = ToAnsi(arguments.join(QLatin1Char(' ')));
    // A backup restored from the sheet changed the files under it: the whole cycle runs again,
    // so that the pages show what is on disk now.
    for (bool again = true, firstCycle = true; again; firstCycle = false) {
        // What the first cycle did not take (its set, the spool watch) goes before a reload.
        if (!firstCycle)
            preload.reset();
        // The help window belongs to the sheet of this cycle, also when the first request comes
        // from a window over it (which owns the message boxes while it is open); it is made on
        // the first request, and the router goes before the application does.
        CHelpRouter help(
            prompter, ProgramHelpFolder(),
            [&prompter] {
                QWidget* sheet = prompter.Owner();
                while (sheet && sheet->parentWidget())
                    sheet = sheet->parentWidget();
                return std::make_unique<CQtHelpViewer>(sheet);
            },
            HelpWaitCursor);
        prompter.SetHelpHandler(
            [&help](unsigned command, unsigned long data) { help.WinHelp(data, command); });
        CQtSheet sheet(&prompter);
        CAppEnvironment environment{prompter,
                                    *services,
                                    sheet,
                                    platform::IsAdministrator,
                                    RelaunchOwnExecutable,
                                    [](unsigned ms) { QThread::msleep(ms); }};
        environment.preload = preload ? &*preload : nullptr;
        CQuibrelApp quibrel(std::move(environment));
        quibrel.Run(commandLine);
        prompter.SetHelpHandler({});
        again = sheet.ReloadRequested();
    }
    return 0;
}
