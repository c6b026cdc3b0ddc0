// The suite's default directories, used when a configuration file names none. On Windows they
// are the suite's own "c:\mail\..." folders; on POSIX they map to one tree under
// /var/spool/korvane.
#pragma once

namespace platform {

#ifdef _WIN32
inline constexpr const char* kDefaultSpoolDir = "c:\\mail\\spool";
inline constexpr const char* kDefaultQueueDir = "c:\\mail\\queue";
inline constexpr const char* kDefaultOutgoingDir = "c:\\mail\\outgoing";
inline constexpr const char* kDefaultErrorDir = "c:\\mail\\error";
inline constexpr const char* kDefaultFilterDir = "c:\\mail\\filtered";
#else
inline constexpr const char* kDefaultSpoolDir = "/var/spool/korvane/spool";
inline constexpr const char* kDefaultQueueDir = "/var/spool/korvane/queue";
inline constexpr const char* kDefaultOutgoingDir = "/var/spool/korvane/outgoing";
inline constexpr const char* kDefaultErrorDir = "/var/spool/korvane/error";
inline constexpr const char* kDefaultFilterDir = "/var/spool/korvane/filtered";
#endif

} // namespace platform
