#pragma once

namespace platform {

// Whether the user running the program may administer the mail services (on POSIX: the
// effective user is root). Any failure to find out counts as no.
bool IsAdministrator();

} // namespace platform
