// The string table: every numbered German text of the program. The numbers are the ones the
// texts have always had; tests and the help refer to them.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace strings {

// The text of number id in the program's 8-bit code page (Windows-1252): as message boxes show
// it and as files the program writes contain it. Empty for a number the table does not hold.
const std::string& Text(unsigned id);

// A text of the program written in UTF-8 in the source, in the 8-bit code page message boxes
// take, with its one "%s" (if any) replaced by argument, which is already in that code page.
std::string Literal(std::string_view utf8, std::string_view argument = {});
// The same with several "%s", replaced in turn by the arguments.
std::string Literal(std::string_view utf8, std::initializer_list<std::string_view> arguments);

// Every number in the table, ascending.
std::vector<unsigned> AllIds();

// Where a script of the table (135, 136) names the configuration folder: whoever writes the
// script puts the folder there, quoted for the script's shell. Texts without it are written as
// they stand.
inline constexpr std::string_view kConfigDirPlaceholder = "@MAILCONFIGDIR@";

// Texts without a number that name a place of the platform, in UTF-8 (for Literal). Like the
// numbered ones, a Windows build has the Windows places and this one the Linux way.
#ifdef _WIN32
// The host-name check of the domains page; "%s" is the name.
inline constexpr const char* kHostNameIncomplete =
    "Der vom Betriebssystem gemeldete DNS-Name Ihres Server '%s' scheint unvollständig oder "
    "inkorrekt zu sein. Bitte korrigieren Sie diese Einstellung um einen einwandfreien Betrieb "
    "zu gewährleisten!\n\nTragen Sie bitte unter Systemsteuerung -> System -> Computername -> "
    "Ändern den vollständig qualifizierten DNS-Namen ein.";
// The progress note while the delivery page starts the scheduler's service.
inline constexpr const char* kStartingScheduler = "Starte den Schedule-Dienst...";
#else
inline constexpr const char* kHostNameIncomplete =
    "Der vom Betriebssystem gemeldete DNS-Name Ihres Servers '%s' scheint unvollständig oder "
    "inkorrekt zu sein. Bitte korrigieren Sie diese Einstellung um einen einwandfreien Betrieb "
    "zu gewährleisten!\n\nTragen Sie bitte mit \"hostnamectl set-hostname\" den vollständig "
    "qualifizierten DNS-Namen ein (zum Beispiel \"hostnamectl set-hostname mail.example.test\") "
    "und nennen Sie ihn in /etc/hosts als ersten Namen der Adresse des Servers.";
inline constexpr const char* kStartingScheduler = "Starte den cron-Dienst...";
#endif

// The table as written in the source, UTF-8, for the code that converts it.
struct Entry {
    unsigned id;
    const char* utf8;
};
const Entry* TableBegin();
const Entry* TableEnd();

} // namespace strings
