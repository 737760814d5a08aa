#pragma once

// The helper's D-Bus interface and command line, as both programs see them.
namespace ventoral::HelperProtocol {

inline constexpr const char* busName = "com.tesvane.smchelper";
inline constexpr const char* objectPath = "/com/tesvane/smchelper";
inline constexpr const char* interfaceName = "com.tesvane.SMCHelperProtocol";

// The polkit actions a caller needs: an active local session is allowed without a prompt, anyone
// else needs an administrator's password. Ping and handing fans back need nothing.
namespace Action {
inline constexpr const char* controlFans = "com.tesvane.smchelper.control-fans";
inline constexpr const char* switchPowerProfile = "com.tesvane.smchelper.switch-power-profile";
} // namespace Action

namespace Command {
inline constexpr const char* ping = "ping";
inline constexpr const char* status = "status";
inline constexpr const char* install = "install";
inline constexpr const char* setRPM = "set-rpm";
inline constexpr const char* setMode = "set-mode";
inline constexpr const char* resetAuto = "reset-auto";
inline constexpr const char* setLowPowerMode = "set-lpm";
// Hands back only the fans this program took over (the unit's last step after any stop).
inline constexpr const char* handBack = "hand-back";
// Measures the limits of one fan, or of every fan that needs it.
inline constexpr const char* calibrate = "calibrate";
} // namespace Command

namespace ExitStatus {
inline constexpr int success = 0;
inline constexpr int rejected = 1; // unknown command, bad argument, failed install, no root
inline constexpr int operationFailed = 2;
} // namespace ExitStatus

namespace Reply {
inline constexpr const char* pingPrefix = "VentoralHelper daemon online (euid: ";
inline constexpr const char* rpmFailedPrefix = "Direct SMC write failed for fan ";
inline constexpr const char* modeFailedPrefix = "Direct SMC mode write failed for fan ";
inline constexpr const char* resetFailed = "Reset auto failed";
inline constexpr const char* lowPowerModeFailed = "Failed to update Low Power Mode via pmset";
inline constexpr const char* notAuthorizedForFans =
    "Not authorized to control the fans: that needs an active local session or an "
    "administrator's password";
inline constexpr const char* notAuthorizedForProfile =
    "Not authorized to switch the power profile: that needs an active local session or an "
    "administrator's password";
inline constexpr const char* thermalHoldPrefix = "Fan ";
inline constexpr const char* thermalHoldSuffix =
    " stays under automatic control: the CPU reached 95\u00B0C while it was held manually. "
    "Manual control returns once the CPU is below 88\u00B0C.";
inline constexpr const char* calibrationStartedPrefix = "Calibrating fan ";
inline constexpr const char* calibrationBusyPrefix = "A calibration is already running for fan ";
inline constexpr const char* calibratingPrefix = "Fan ";
inline constexpr const char* calibratingSuffix =
    " is being calibrated: it goes back to its own control when that ends";
inline constexpr const char* calibrationUnavailable = "Calibration is not available";
} // namespace Reply

} // namespace ventoral::HelperProtocol
