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
#include "app/QuibrelApp.h"
#include "gui/HelpViewer.h"
#include "gui/QtPrompter.h"
#include "gui/QuibrelDlg.h"
#include "gui/TextCodec.h"
#include "pages/Help.h"
#include "platform/Security.h"
#include "platform/ServiceManager.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QThread>
#include <QTranslator>
#include <QWidget>

#include <cstdio>
#include <string>

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
void RunUnattended(CSheet& sheet, platform::ServiceManager& services) {
    CUnattendedPrompter prompter;
    CQuibrelApp quibrel(CAppEnvironment{prompter, services, sheet, [] { return true; },
                                        [] { return 0; }, [](unsigned) {}});
    quibrel.Run("");
}

int Render(const QString& folder, platform::ServiceManager& services) {
    CRenderSheet sheet(folder);
    RunUnattended(sheet, services);
    for (const QString& file : sheet.files())
        std::printf("%s\n", file.toLocal8Bit().constData());
    return sheet.files().isEmpty() ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QTranslator translator;
    LoadGermanCatalogue(app, translator);

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    auto services = platform::CreateServiceManager();
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--render"))
        return Render(arguments[1], *services);
    if (arguments.size() == 1 && arguments[0] == QLatin1String("--show-and-exit")) {
        CShowOnceSheet sheet;
        RunUnattended(sheet, *services);
        return 0;
    }

    CQtPrompter prompter;
    // The switch is compared with the whole command line, as it was typed.
    const std::string commandLine = ToAnsi(arguments.join(QLatin1Char(' ')));
    // A backup restored from the sheet changed the files under it: the whole cycle runs again,
    // so that the pages show what is on disk now.
    for (bool again = true; again;) {
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
        CQuibrelApp quibrel(CAppEnvironment{prompter, *services, sheet, platform::IsAdministrator,
                                            RelaunchOwnExecutable,
                                            [](unsigned ms) { QThread::msleep(ms); }});
        quibrel.Run(commandLine);
        prompter.SetHelpHandler({});
        again = sheet.ReloadRequested();
    }
    return 0;
}
