// What the application-cycle tests share: services that are never running, a sheet that makes
// the test's edit and ends with OK or Cancel, and a copy of the sample installation.
#pragma once

#include "app/QuibrelApp.h"
#include "tests/TestUtil.h"

#include <filesystem>
#include <functional>
#include <string>

class NoServices : public platform::ServiceManager {
public:
    bool QueryStatus(const std::string&, platform::ServiceStatus&) override { return false; }
    bool Start(const std::string&) override { return false; }
    bool SendRestartRequest(const std::string&) override { return false; }
};

class EditSheet : public CSheet {
public:
    std::function<void(CConfigSet&)> edit;
    bool ok = true; // ends with OK, otherwise with Cancel
    bool Run(CConfigSet& set, CPrompter&) override {
        edit(set);
        return ok;
    }
};

// The sample configuration in dir/config, its spool in dir/spool, "mdad.cfg" pointing there.
inline void CopySampleInstallation(const testutil::TempDir& dir) {
    namespace fs = std::filesystem;
    const std::string config = dir / "config";
    fs::copy(KORVANE_SAMPLE_DIR "/config", config, fs::copy_options::recursive);
    fs::copy(KORVANE_SAMPLE_DIR "/spool", dir / "spool", fs::copy_options::recursive);
    std::string mdad = testutil::ReadBytes(config + "/mdad.cfg");
    mdad.replace(mdad.find("/var/spool/korvane/spool"), 24, dir / "spool");
    testutil::WriteBytes(config + "/mdad.cfg", mdad);
}
