#include "application/privileged/PrivilegedWriteMode.h"

namespace ventoral {

std::string_view rawValue(PrivilegedWriteMode mode) {
    switch (mode) {
    case PrivilegedWriteMode::directRoot:
        return "Direct Root (Full Hardware Access)";
    case PrivilegedWriteMode::xpcDaemon:
        return "Privileged XPC Daemon";
    case PrivilegedWriteMode::privilegedHelper:
        return "Privileged Helper Tool";
    case PrivilegedWriteMode::unauthorized:
        return "Authorization Required (Read-Only)";
    case PrivilegedWriteMode::simulationOnly:
        return "Simulated / Safe Observation";
    }
    return "";
}

std::optional<PrivilegedWriteMode> privilegedWriteModeFromRaw(std::string_view raw) {
    for (PrivilegedWriteMode mode : allPrivilegedWriteModes) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

} // namespace ventoral
