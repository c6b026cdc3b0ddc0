#include "platform/Thread.h"

#include <windows.h>

namespace platform {

unsigned long CurrentThreadId() {
    return static_cast<unsigned long>(::GetCurrentThreadId());
}

} // namespace platform
