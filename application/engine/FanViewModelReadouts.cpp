// Readouts derived from the published state.
#include "application/engine/FanViewModel.h"
#include "application/menubar/TrioMenuBarIconRenderer.h"
#include "core/menubar/MenuBarLabel.h"
#include "core/telemetry/FanAverages.h"

#include <QLocale>
#include <cmath>

namespace ventoral {

float FanViewModel::averageRPM() const {
    return ventoral::averageRPM(fans_.value);
}

float FanViewModel::averageMinRPM() const {
    return ventoral::averageMinRPM(fans_.value);
}

float FanViewModel::averageMaxRPM() const {
    return ventoral::averageMaxRPM(fans_.value);
}

int FanViewModel::averageFanPercentage() const {
    return ventoral::averageFanPercentage(fans_.value);
}

std::string FanViewModel::menuBarLabelText() const {
    const BatteryStateSnapshot& battery = batteryState_.value;
    const MenuBarLabelReadings readings{
        averageFanPercentage(),
        averageRPM(),
        cpuTemperature_.value,
        gpuTemperature_.value,
        powerTelemetry_.value.primaryMenuBarWatts(),
        battery.isPresent ? std::optional<int>(battery.percentage) : std::nullopt,
    };
    return ventoral::menuBarLabelText(menuBarSettings_.value, readings, [](long long value) {
        return QLocale().toString(value).toStdString();
    });
}

bool FanViewModel::isManualOrCurveOverride() const {
    return !activeSelection_.value.isAutomatic();
}

double FanViewModel::batteryTemperature() const {
    if (auto t = batteryHealth_.value.temperatureCelsius; t && std::isfinite(*t) && *t > 0) {
        return *t;
    }
    for (const ThermalSensor& sensor : sensors_.value) {
        if (sensor.category == SensorCategory::battery && std::isfinite(sensor.temperature)) {
            return sensor.temperature;
        }
    }
    return 32.0;
}

PowerInfoBarState FanViewModel::powerInfoBarState() const {
    return PowerInfoBarState::make(batteryState_.value, powerTelemetry_.value);
}

std::optional<PowerFlowDiagramState> FanViewModel::powerFlowState() const {
    return PowerFlowDiagramState::resolve(batteryState_.value, powerTelemetry_.value);
}

TrioIconRenderKey FanViewModel::menuBarTrioKey(double pointSize,
                                               std::optional<bool> isDarkAppearance) const {
    return TrioMenuBarIconRenderer::makeKey(pointSize, isDarkAppearance, menuBarSettings_.value,
                                            batteryState_.value, powerTelemetry_.value,
                                            averageFanPercentage(), isManualOrCurveOverride(),
                                            collaborators_.systemIsDark);
}

std::optional<QImage> FanViewModel::menuBarTrioImage(double pointSize,
                                                     std::optional<bool> isDarkAppearance) const {
    const double scale = collaborators_.screenScale ? collaborators_.screenScale() : 2.0;
    const TrioIconRenderKey key = menuBarTrioKey(pointSize, isDarkAppearance);
    if (isDarkAppearance) {
        return TrioMenuBarIconRenderer::render(key, scale);
    }
    return TrioMenuBarIconRenderer::renderDynamicMenuBarImage(key, scale,
                                                              collaborators_.systemIsDark);
}

} // namespace ventoral
