// render-trio: writes the Trio icon of one key as a PNG, for screenshots, documentation and
// checks. Runs without a display.
#include "application/menubar/TrioMenuBarIconRenderer.h"

#include <QGuiApplication>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace ventoral;

namespace {

constexpr const char* usage =
    "Usage: render-trio --out FILE.png [--size POINTS] [--scale FACTOR] [--dark]\n"
    "                   [--no-battery] [--percent N] [--charging] [--connected] [--low-power]\n"
    "                   [--top smart|percentage|ringOnly] [--center fanGlyph|powerWatts|\n"
    "                   batteryPercent|fanPercent] [--bottom dots|arc|hidden]\n"
    "                   [--text TEXT] [--fan N] [--manual]\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "render-trio: %s\n%s", message.c_str(), usage);
    return 2;
}

template <typename T> bool number(const char* text, T& value) {
    std::string_view s(text);
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size();
}

template <typename E, std::size_t N>
bool choice(const char* text, const std::array<E, N>& cases, E& value) {
    for (E option : cases) {
        if (rawValue(option) == text) {
            value = option;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QGuiApplication app(argc, argv);
    TrioIconRenderKey key;
    key.pointSize = 22;
    key.batteryPresent = true;
    key.batteryPercent = 80;
    double scale = 2;
    std::string out;
    bool textGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        bool ok = true;
        if (option == "--out") {
            ok = (v = value()) != nullptr;
            out = v ? v : "";
        } else if (option == "--size") {
            ok = (v = value()) && number(v, key.pointSize) && key.pointSize >= 12 &&
                 key.pointSize <= 1024;
        } else if (option == "--scale") {
            ok = (v = value()) && number(v, scale) && scale > 0 && scale <= 8;
        } else if (option == "--dark") {
            key.isDarkAppearance = true;
        } else if (option == "--no-battery") {
            key.batteryPresent = false;
        } else if (option == "--percent") {
            ok = (v = value()) && number(v, key.batteryPercent) && key.batteryPercent >= 0 &&
                 key.batteryPercent <= 100;
        } else if (option == "--charging") {
            key.isCharging = true;
        } else if (option == "--connected") {
            key.isConnectedToPower = true;
        } else if (option == "--low-power") {
            key.isLowPowerMode = true;
        } else if (option == "--top") {
            ok = (v = value()) && choice(v, allTrioTopBatteryStyles, key.topStyle);
        } else if (option == "--center") {
            ok = (v = value()) && choice(v, allTrioCenterSlots, key.centerSlot);
        } else if (option == "--bottom") {
            ok = (v = value()) && choice(v, allTrioBottomStyles, key.bottomStyle);
        } else if (option == "--text") {
            ok = (v = value()) != nullptr;
            key.centerText = v ? v : "";
            textGiven = true;
        } else if (option == "--fan") {
            ok = (v = value()) && number(v, key.fanPercentage) && key.fanPercentage >= 0 &&
                 key.fanPercentage <= 100;
        } else if (option == "--manual") {
            key.isManualOverride = true;
        } else {
            return fail("unknown option " + option);
        }
        if (!ok) {
            return fail("bad or missing value for " + option);
        }
    }
    if (out.empty()) {
        return fail("--out is required");
    }
    if (!textGiven && key.centerSlot != TrioCenterSlot::fanGlyph) {
        key.centerText = key.centerSlot == TrioCenterSlot::batteryPercent
                             ? std::to_string(key.batteryPercent)
                             : std::to_string(key.fanPercentage);
    }
    auto image = TrioMenuBarIconRenderer::rasterize(key, scale);
    if (!image || !image->save(QString::fromStdString(out), "PNG")) {
        std::fprintf(stderr, "render-trio: could not write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
