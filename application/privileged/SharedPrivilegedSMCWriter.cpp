// The process's writer: this machine's installed paths, controller service, system bus and
// main thread.
#include "application/privileged/PrivilegedSMCWriter.h"
#include "core/common/MainThread.h"
#include "platform/system/ProcessEnvironment.h"

#include <filesystem>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

namespace ventoral {

PrivilegedSMCWriter& PrivilegedSMCWriter::shared() {
    static std::shared_ptr<PrivilegedSMCWriter> instance = [] {
        PrivilegedWriterPlatform p;
        p.rootPrefix = testSetting(EnvironmentSetting::rootPrefix).value_or("");
        p.effectiveUid = [] { return geteuid(); };
        p.smc = []() -> SMCService& { return SMCService::shared(); };
        p.systemBus = openSystemBus;
        p.postToMain = postToMainThread;
        p.ownExecutableFolder = std::filesystem::path(ownExecutablePath()).parent_path().string();
        std::error_code error;
        p.currentDirectory = std::filesystem::current_path(error).string();
        p.sysfsRoot = sysfsRoot();
        return make(std::move(p));
    }();
    return *instance;
}

} // namespace ventoral
