// Measuring a fan's limits: started here, carried by the privileged writer, followed in
// `calibration`.
#include "application/engine/FanViewModel.h"

#include <algorithm>

namespace ventoral {

void FanViewModel::calibrateFan(std::int64_t index) {
    if (isSimulatedMode_.value || calibration_.value.running) {
        return;
    }
    const auto& known = fanLimits_.value;
    auto fan = std::find_if(known.begin(), known.end(),
                            [index](const FanLimitsInfo& f) { return f.index == index; });
    if (fan != known.end() && !fan->calibratable) {
        publish(calibration_, FanCalibrationStatus{index, false, 0, noCalibrationNeeded(*fan)});
        return;
    }
    publish(calibration_, FanCalibrationStatus{index, true, 0, {}});
    collaborators_.writer.calibrateFan(
        index, onMainThread([index](FanViewModel& self, double fraction, std::string message) {
            if (self.calibration_.value.running && self.calibration_.value.index == index) {
                self.publish(self.calibration_,
                             FanCalibrationStatus{index, true, fraction, std::move(message)});
            }
        }),
        onMainThread([index](FanViewModel& self, FanCalibrationOutcome outcome) {
            self.publish(self.calibration_,
                         FanCalibrationStatus{index, false, outcome.succeeded ? 1.0 : 0.0,
                                              outcome.message, outcome.succeeded});
            self.publish(self.fanLimits_, self.collaborators_.smc.fanLimits());
            if (!outcome.succeeded) {
                self.publish(self.lastErrorMessage_, std::optional(outcome.message));
            }
            self.evaluatePresetRules(false); // the fan is the preset's again
        }));
}

} // namespace ventoral
