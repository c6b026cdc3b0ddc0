#pragma once

namespace platform {

// Numeric id of the calling thread, as the system's tools show it.
unsigned long CurrentThreadId();

} // namespace platform
