#include "app/Strings.h"

#include <iterator>

namespace strings {
namespace {

// Sorted by number. Each text in UTF-8, exactly as the program has always shown it, slips
// included (108 "Bnutzerliste", 145 "Weiterletung"): users and the help quote the texts as they
// stand. 57351 alone is mended, because it named the wrong directory ("der eingehenden und der
// eingehenden Warteschlange" for the local and the outgoing queue).
const Entry kTable[] = {
    // Start-up: Windows Sockets
    {103, "Fehler beim Initialisieren der Windows-Sockets."},
    // Start-up: loading the configuration set
    {104, "Konnte die Konfigurationsdatei SMTPD.CFG nicht laden."},
    {105, "Konnte die Konfigurationsdatei POP3D.CFG nicht laden."},
    {106, "Konnte die Konfigurationsdatei MDAD.CFG nicht laden."},
    {107, "Konnte die domains-Datei nicht laden."},
    {108, "Konnte die Bnutzerliste nicht erstellen."},
    {109, "Konnte die aliases-Datei nicht laden."},
    // After OK: a service refused the restart request
    {111, "Konnte den ESMTP-Dienst nicht starten."},
    {113, "Konnte den Mail Delivery Agent nicht starten."},
    {115, "Konnte den POP3-Dienst nicht starten."},
    // After OK: saving the configuration set
    {116, "Konnte die Konfigurationsdatei SMTPD.CFG nicht speichern."},
    {117, "Konnte die Konfigurationsdatei POP3D.CFG nicht speichern."},
    {118, "Konnte die Konfigurationsdatei MDAD.CFG nicht speichern."},
    {119, "Konnte die domains-Datei nicht speichern."},
    {121, "Konnte die aliases-Datei nicht speichern."},
    // After OK: a service refused the restart request
    {123, "Konnte den SYSLOG-Dienst nicht starten."},
    // Start-up: the user is no administrator (OK and Cancel)
    {124,
     "Sie müssen Administrator-Rechte besitzen um die MailServer-Einstellungen verändern und die "
     "Dienste neustarten zu können."},
    // After OK: saving the configuration set
    {125, "Konnte die backupdomains-Datei nicht speichern."},
    // Start-up: loading the configuration set
    {126, "Konnte die Konfigurationsdatei SYSLOGD.CFG nicht laden."},
    // After OK: saving the configuration set
    {127, "Konnte die Konfigurationsdatei SYSLOGD.CFG nicht speichern."},
    // Caption of the property sheet
    {128, "Korvane MailServer 4.0 Configurator"},
#ifdef _WIN32
    // Delivery page: delivery times in the task scheduler (134 asks yes/no)
    {130, "Der Taskplaner konnte nicht gestartet werden."},
#else
    // Delivery page: delivery times in cron (134 asks yes/no)
    {130, "Der cron-Dienst konnte nicht gestartet werden."},
#endif
    {131, "Das Hinzufügen eines neuen Versandzeitpunktes ist fehlgeschlagen."},
    {132, "Das Löschen eines Versandzeitpunktes ist fehlgeschlagen."},
    {133, "Das Auflisten der Versandzeitpunkte ist fehlgeschlagen."},
#ifdef _WIN32
    {134, "Zur Zeitsteuerung des Mailverkehrs muß der Windows-Taskplaner aktiviert werden."},
    // Delivery page: contents of newmail.cmd (135) and sendmail.cmd (136); written with CR LF
    {135, "@echo off\n"
          "call \"%MAILCONFIGDIR%\\sendmail.cmd\""},
    {136, "@echo off\n"
          "\n"
          "if \"%1\" == \"-i\" goto sendmail\n"
          "\n"
          "pushd\n"
          "cd /d \"%MAILCONFIGDIR%\\outgoing\"\n"
          "for %%a in ( *.eml ) do call \"%MAILCONFIGDIR%\\sendmail.cmd\" -i \"%%a\"\n"
          "goto end\n"
          "\n"
          ":sendmail\n"
          "\n"
          "rem **********************************************************************\n"
          "rem *** Hier koennen Sie weitere SMTPC-Parameter festlegen.\n"
          "\n"
          "\"%MAILCONFIGDIR%\\smtpc\" -mx \"%2\"\n"
          "\n"
          "rem **********************************************************************\n"
          "rem *** Hier wird die Fehlerbehandlung durchgefuehrt.\n"
          "\n"
          "if errorlevel 1 \"%MAILCONFIGDIR%\\reply\" \"%2\" -t \"%2.err\" -o\n"
          "\n"
          ":end\n"
          "popd"},
#else
    {134, "Zur Zeitsteuerung des Mailverkehrs muß der cron-Dienst aktiviert werden."},
    // Delivery page: contents of newmail.sh (135) and sendmail.sh (136), shell scripts with LF.
    // cron starts them without the server's environment, so each names the folders that hold
    // when MAILCONFIGDIR or KORVANE_BIN_DIR is not set; the page puts the configuration folder,
    // quoted for the shell, in place of kConfigDirPlaceholder. No eval, every path quoted, and
    // a "*.eml" that matched nothing stands for itself and is passed over.
    {135, "#!/bin/sh\n"
          "# Sofortige Zustellung: ruft bei jeder eintreffenden Nachricht das Script fuer die\n"
          "# zeitgesteuerte Zustellung auf.\n"
          "\n"
          "if [ -z \"$MAILCONFIGDIR\" ]; then\n"
          "    MAILCONFIGDIR=@MAILCONFIGDIR@\n"
          "fi\n"
          "export MAILCONFIGDIR\n"
          "exec \"$MAILCONFIGDIR/sendmail.sh\""},
    {136, "#!/bin/sh\n"
          "# Zeitgesteuerte Zustellung: versendet jede Mail (*.eml) der Warteschlange\n"
          "# \"outgoing\" im Konfigurationsverzeichnis. cron startet das Script ohne die\n"
          "# Umgebung des Servers; dann gelten die Verzeichnisse, die hier stehen.\n"
          "\n"
          "if [ -z \"$MAILCONFIGDIR\" ]; then\n"
          "    MAILCONFIGDIR=@MAILCONFIGDIR@\n"
          "fi\n"
          "if [ -z \"$KORVANE_BIN_DIR\" ]; then\n"
          "    KORVANE_BIN_DIR=/usr/lib/korvane\n"
          "fi\n"
          "export MAILCONFIGDIR KORVANE_BIN_DIR\n"
          "\n"
          "if [ \"$1\" != \"-i\" ]; then\n"
          "    cd \"$MAILCONFIGDIR/outgoing\" || exit 1\n"
          "    for mail in *.eml; do\n"
          "        if [ -f \"$mail\" ]; then\n"
          "            \"$MAILCONFIGDIR/sendmail.sh\" -i \"$mail\"\n"
          "        fi\n"
          "    done\n"
          "    exit 0\n"
          "fi\n"
          "\n"
          "# **********************************************************************\n"
          "# *** Hier koennen Sie weitere SMTPC-Parameter festlegen.\n"
          "\n"
          "\"$KORVANE_BIN_DIR/smtpc\" -mx \"$2\"\n"
          "errorlevel=$?\n"
          "\n"
          "# **********************************************************************\n"
          "# *** Hier wird die Fehlerbehandlung durchgefuehrt.\n"
          "\n"
          "if [ \"$errorlevel\" -ge 1 ]; then\n"
          "    \"$KORVANE_BIN_DIR/reply\" \"$2\" -t \"$2.err\" -o\n"
          "fi"},
#endif
    // Delivery page, apply: creating or deleting the scripts (yes/no questions)
    {137,
     "Die Scriptdatei für die sofortige Zustellung ist nicht vorhanden. Soll Sie angelegt werden?"},
    {138,
     "Die Scriptdatei für die zeitgesteuerte Zustellung ist nicht vorhanden. Soll Sie angelegt "
     "werden?"},
    {139, "Ihre Einstellungen erfordern die Löschung der Scriptdatei für die sofortige Zustellung. "
          "Dabei gehen eventuelle benutzerdefinierte Änderungen von Ihnen verloren. Soll die Datei "
          "gelöscht werden?"},
    {140,
     "Ihre Einstellungen erfordern die Löschung der Scriptdatei für die zeitgesteuerte "
     "Zustellung. Dabei gehen eventuelle benutzerdefinierte Änderungen von Ihnen verloren. Soll "
     "die Datei gelöscht werden?"},
    // Domains and accounts page: domains, accounts and forwardings
    {141, "Konnte die Domain nicht entfernen."},
    {142, "Die Domain ist bereits vorhanden."},
    {143, "Konnte das Konto nicht entfernen."},
    {144, "Soll das Konto wirklich mit allen gespeicherten Mails gelöscht werden?"},
    {145, "Soll die Weiterletung wirklich gelöscht werden?"},
    {146, "Bitte wählen Sie zuerst ein Konto oder eine Weiterleitung zum löschen aus."},
    {147, "Bitte geben Sie ein Passwort an, um ein Konto zu erstellen."},
    {148, "Konnte das Konto nicht erstellen."},
    {149, "Das Ziel der Weiterleitung muß eine gültige E-Mail-Adresse sein."},
    {150, "Bitte geben Sie ein Passwort an, um das Konto zu ändern."},
    {151, "Konnte das Konto nicht ändern."},
    {152, "Das Konto ist entweder nicht gültig oder eine Weiterleitung, die nicht geändert werden "
          "kann."},
    {153, "Bitte wählen Sie zuerst ein Konto zum ändern aus."},
    // Folders page: prompts of the folder picker
    {155, "Bitte wählen Sie das Ablageverzeichnis für fehlerhafte Mails:"},
    {156, "Bitte wählen Sie das Verzeichnis für den Postausgang:"},
    {157, "Bitte wählen Sie das Verzeichnis für die lokale Warteschlange:"},
    {158, "Bitte wählen Sie das Ablageverzeichnis für die Benutzerkonten:"},
    {159, "Bitte wählen Sie das Ablageverzeichnis für gefilterte Mails:"},
    // Local IPv4 addresses for the address lists: adapter query failures
    {160,
     "The pOutBufLen parameter is NULL, or the calling process does not have read/write access to "
     "the memory pointed to by pOutBufLen, or the calling process does not have write access to "
     "the memory pointed to by the pAdapterInfo parameter."},
    {161, "No network adapter information exists for the local computer."},
    {162, "Requesting IP-information is not supported by the operating system running on the local "
          "computer."},
    {163, "The buffer size indicated by the pOutBufLen parameter is too small to hold the adapter "
          "information. The pOutBufLen parameter points to the required size."},
    {164, "Could not allocate memory for network adapter information."},
    // Delivery page: a delivery time that already exists
    {165, "Zu diesem Zeitpunkt ist bereits ein Mailaustausch vorgesehen."},
    // Domains and accounts page: deleting a domain, secondary MX domains
    {166, "Soll die Domain wirklich mit allen zugehörigen Kontozuordnungen gelöscht werden?"},
    {167, "Als Secondary MX können Sie bei dieser Domain kein Konto hinzufügen oder ändern."},
    // After OK: saving the configuration set
    {169, "Konnte die smarthosts-Datei nicht speichern."},
    // Start-up: loading the configuration set
    {170, "Konnte die Konfigurationsdatei IMAP4D.CFG nicht laden."},
    // After OK: a service refused the restart request
    {172, "Konnte den IMAP4-Dienst nicht starten."},
    // After OK: saving the configuration set
    {173, "Konnte die Konfigurationsdatei IMAP4D.CFG nicht speichern."},
    // Program title: caption of the progress window
    {57344, "Korvane MailServer 4.0 Configurator"},
    // Domains and accounts page: lower-cased names, an account still in use
    {57345,
     "Die Schreibweise wurde in Kleinschreibung umgewandelt. Bitte achten Sie darauf, dies auch "
     "im Mailclient entsprechend einzutragen."},
    {57346,
     "Konnte das Konto nicht entfernen, da noch andere Adressen auf das Konto verweisen. Es wurde "
     "nur die Adresse entfernt."},
    // Folders page: copies of a directory that disagree, directories that overlap
    {57347, "Die Angaben zum lokalen Warteschlangenverzeichnis (\"QueueDir\") in den verschiedenen "
            "Konfigurationsdateien weichen voneinander ab. Die entsprechenden Konfigurationsfelder "
            "werden deaktiviert, um die benutzerdefinierten Einstellungen zu erhalten."},
    {57348, "Die Angaben zum Spoolverzeichnis für Mailkonten (\"SpoolDir\") in den verschiedenen "
            "Konfigurationsdateien weichen voneinander ab. Die entsprechenden Konfigurationsfelder "
            "werden deaktiviert, um die benutzerdefinierten Einstellungen zu erhalten."},
    {57349,
     "Fehler: Die Pfade des Spoolverzeichnisses und der eingehenden Warteschlange verweisen auf "
     "dasselbe Verzeichnis.\n"
     "\n"
     "Für den regulären Betrieb ist eine derartige Einstellung nicht geeignet. Bitte korrigieren "
     "Sie die Pfadangaben."},
    {57350,
     "Fehler: Die Pfade des Spoolverzeichnisses und der ausgehenden Warteschlange verweisen auf "
     "dasselbe Verzeichnis.\n"
     "\n"
     "Für den regulären Betrieb ist eine derartige Einstellung nicht geeignet. Bitte korrigieren "
     "Sie die Pfadangaben."},
    {57351,
     "Fehler: Die Pfade der eingehenden und der ausgehenden Warteschlange verweisen auf dasselbe "
     "Verzeichnis.\n"
     "\n"
     "Für den regulären Betrieb ist eine derartige Einstellung nicht geeignet. Bitte korrigieren "
     "Sie die Pfadangaben."},
};

} // namespace

const Entry* TableBegin() {
    return std::begin(kTable);
}
const Entry* TableEnd() {
    return std::end(kTable);
}

} // namespace strings
