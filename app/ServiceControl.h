// Service operations the application cycle and the delivery page use, built on the service
// manager of the platform.
#pragma once

#include "platform/ServiceManager.h"

#include <functional>
#include <string>

// Whether the service's current state is running (one status query; any failure: false).
bool IsServiceRunning(platform::ServiceManager& manager, const std::string& service);

// Sends the restart request to a running service; a service that is not running gets nothing
// and the result is false.
bool RequestServiceRestart(platform::ServiceManager& manager, const std::string& service);

// Starts a stopped service and waits while it reports start-pending, as long as its check
// point advances between waits of twice its wait hint. True when the start was accepted and did
// not hang (a service that stops again while starting also counts as started). sleepMs is the
// wait, injectable for tests.
bool StartServiceAndWait(platform::ServiceManager& manager, const std::string& service,
                         const std::function<void(unsigned ms)>& sleepMs);
