// Inside the Windows adapters only: the certificate list over any store of the system's
// certificate functions, so that the tests can hand in a store of their own instead of the
// machine's personal one.
#pragma once

#include "platform/CertificateStore.h"

#include <windows.h>

#include <wincrypt.h>

#include <functional>
#include <memory>

namespace platform::win32 {

// open is called by Open and gives a store handle, which Close closes again; nullptr when the
// store cannot be opened.
std::unique_ptr<CertificateStore> MakeCryptoCertificateStore(std::function<HCERTSTORE()> open);

} // namespace platform::win32
