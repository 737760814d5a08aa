#pragma once

#include "application/privileged/PrivilegedSMCWriter.h"
#include "platform/smc/EmulatedSmcTransport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeProfileDaemon.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SysfsFixture.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace ventoral::testing {

namespace fs = std::filesystem;
using Mode = PrivilegedWriteMode;
using Clock = std::chrono::steady_clock;

// The main thread of these tests: jobs posted to it run when the test pumps.
class MainQueue {
public:
    void post(std::function<void()> job) {
        {
            std::lock_guard guard(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_all();
    }
    // Runs posted jobs on this thread until `done` holds or the time is up.
    bool pumpUntil(const std::function<bool()>& done, double seconds = 10) {
        auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            std::vector<std::function<void()>> jobs;
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait_until(lock, deadline, [&] { return !jobs_.empty(); })) {
                    return done();
                }
                jobs.swap(jobs_);
            }
            for (auto& job : jobs) {
                job();
            }
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::function<void()>> jobs_;
};

// One completion: how many times it ran, on which thread, with what.
struct Outcome {
    int calls = 0;
    std::thread::id thread;
    WriteResult result;
    WriteCompletion completion() {
        return [this](WriteResult r) {
            ++calls;
            thread = std::this_thread::get_id();
            result = std::move(r);
        };
    }
};

// A write failure by the text it carries; anything else by its description.
inline std::string describe(const WriteResult& r) {
    if (!r) {
        return "success";
    }
    return r->kind() == SMCError::Kind::writeFailed ? r->payload() : std::string(r->what());
}

// A transport that notes the keys written, in order, on the way to the emulated controller.
class RecordingTransport final : public SmcTransport {
public:
    RecordingTransport(std::unique_ptr<SmcTransport> inner, std::vector<std::string>& writes)
        : inner_(std::move(inner)), writes_(writes) {}
    bool open() override { return inner_->open(); }
    void close() override { inner_->close(); }
    bool isOpen() const override { return inner_->isOpen(); }
    Reply call(const SMCRecordBytes& input) override {
        SMCKeyData_t record = fromBytes(input);
        if (record.data8 == SMCCommand::writeBytes) {
            writes_.push_back(stringFromFourCharCode(record.key));
        }
        return inner_->call(input);
    }

private:
    std::unique_ptr<SmcTransport> inner_;
    std::vector<std::string>& writes_;
};

inline EmulatedSmcTransport::Key key(const std::string& type, double value) {
    std::size_t size = type == "flt " ? 4 : type == "ui8 " ? 1 : 2;
    return {type, EmulatedSmcTransport::encodeNumber(value, type, size), true, true, 0};
}

// A writer over a prefix of fake programs: systemctl reads the unit's state from a file, sudo
// runs its command unless told a password is needed, helpers log their arguments.
class Rig {
public:
    explicit Rig(uid_t euid = 1000) : euid_(euid) {
        writeScript(prefix() + "/usr/bin/systemctl", R"sh(p="${0%/usr/bin/systemctl}"
echo "$*" >> "$p/systemctl.log"
if [ "$1" = is-enabled ]; then
  if [ -e "$p/unit-state" ]; then cat "$p/unit-state"; else echo not-found; exit 4; fi
  [ "$(cat "$p/unit-state")" = enabled ]; exit $?
fi
exit 0
)sh");
        writeScript(prefix() + "/usr/bin/sudo", R"(p="${0%/usr/bin/sudo}"
[ "$1" = -n ] || exit 99
shift
if [ -e "$p/sudo-needs-password" ]; then echo "sudo: a password is required" >&2; exit 1; fi
exec "$@"
)");
        controller = std::make_unique<SMCService>(std::make_unique<RecordingTransport>(
            std::make_unique<EmulatedSmcTransport>(
                std::map<std::string, EmulatedSmcTransport::Key>{{"FNum", key("ui8 ", 2)},
                                                                 {"F0Md", key("ui8 ", 0)},
                                                                 {"F1Md", key("ui8 ", 0)},
                                                                 {"FS! ", key("ui16", 0)},
                                                                 {"F1Tg", key("flt ", 0)}},
                true),
            smcWrites));
    }

    std::shared_ptr<PrivilegedSMCWriter> writer() {
        if (!writer_) {
            PrivilegedWriterPlatform p;
            p.rootPrefix = prefix();
            p.effectiveUid = [this] { return euid_; };
            p.smc = [this]() -> SMCService& { return *controller; };
            p.systemBus = busAddress.empty() ? BusOpener([] { return nullptr; }) : openSystemBus;
            p.postToMain = [this](std::function<void()> job) { main.post(std::move(job)); };
            p.runElevated = [this](const std::string& command) {
                elevated.push_back(command);
                return elevation(command);
            };
            p.currentDirectory = workspace();
            p.sysfsRoot = machine.root();
            writer_ = PrivilegedSMCWriter::make(std::move(p));
        }
        return writer_;
    }

    std::string prefix() const { return root_.path() + "/root"; }
    std::string workspace() const { return root_.path() + "/it's mine"; }
    std::string buildHelper() const { return workspace() + "/build/debug/helper/VentoralHelper"; }
    std::string log() const { return readFile(root_.path() + "/helper.log"); }

    // A fake helper at `path` that logs its arguments and then does `then`.
    void helper(const std::string& path, mode_t mode, const std::string& then = "exit 0\n") {
        writeScript(path, "echo \"$*\" >> '" + root_.path() + "/helper.log'\n" + then, mode);
    }
    void installed(bool setuid, const char* unitState) {
        PrivilegedSMCWriter& w = *writer();
        helper(w.helperInstalledPath(), setuid ? 04755 : 0755);
        helper(w.localBinPath(), setuid ? 04755 : 0755);
        fs::create_directories(fs::path(w.launchDaemonPlistPath()).parent_path());
        std::ofstream(w.launchDaemonPlistPath()) << "[Unit]\n";
        if (unitState) {
            std::ofstream(prefix() + "/unit-state") << unitState << "\n";
        }
    }
    Outcome wait(Outcome& o, double seconds = 10) {
        main.pumpUntil([&] { return o.calls > 0; }, seconds);
        return o;
    }

    TemporaryFolder root_;
    uid_t euid_;
    std::vector<std::string> smcWrites;
    std::unique_ptr<SMCService> controller;
    SysfsFixture machine;
    MainQueue main;
    std::vector<std::string> elevated;
    std::function<ElevationOutcome(const std::string&)> elevation = [](const std::string&) {
        return ElevationOutcome{ElevationOutcome::Kind::succeeded, {}};
    };
    std::string busAddress;

private:
    std::shared_ptr<PrivilegedSMCWriter> writer_;
};

} // namespace ventoral::testing
