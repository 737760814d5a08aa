#include "application/menubar/TrioMenuBarIconRenderer.h"
#include "tests/support/ChildProcess.h"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace ventoral {
namespace {

namespace R = TrioMenuBarIconRenderer;
using Top = TrioTopBatteryStyle;
using Center = TrioCenterSlot;
using Bottom = TrioBottomStyle;

BatteryStateSnapshot battery(int percent, bool charging = false, bool connected = false,
                             bool lowPower = false, bool present = true) {
    return {present,   percent,  charging,     false,
            connected, lowPower, std::nullopt, BatteryChargeTimeState::unavailable()};
}

TEST(TrioIconKey, MakeKey) {
    MenuBarDisplaySettings settings;
    PowerTelemetrySnapshot power;
    auto key = [&](double size, std::optional<bool> dark = false) {
        return R::makeKey(size, dark, settings, battery(80), power, 40, false, [] { return true; });
    };
    EXPECT_EQ(key(10).pointSize, 12);
    EXPECT_EQ(key(18.5).pointSize, 19);
    EXPECT_EQ(key(22.4).pointSize, 22);
    EXPECT_TRUE(key(22, std::nullopt).isDarkAppearance); // asked of the system
    EXPECT_EQ(key(22).centerText, "");

    settings.trioCenterSlot = Center::powerWatts;
    power.systemWatts = 12.4;
    EXPECT_EQ(key(22).centerText, "12W");
    power.systemWatts = 12.5;
    EXPECT_EQ(key(22).centerText, "13W");
    power.systemWatts = std::nullopt;
    EXPECT_EQ(key(22).centerText, "\u2014W");
    settings.trioCenterSlot = Center::fanPercent;
    auto fan = R::makeKey(22, false, settings, battery(80), power, 150, true);
    EXPECT_EQ(fan.centerText, "150"); // the text is not clamped; the indicator is
    EXPECT_EQ(fan.fanPercentage, 100);
    EXPECT_TRUE(fan.isManualOverride);
    settings.trioCenterSlot = Center::batteryPercent;
    EXPECT_EQ(key(22).centerText, "80");

    TrioIconRenderKey a = key(22), b = a;
    EXPECT_EQ(TrioIconRenderKeyHash()(a), TrioIconRenderKeyHash()(b));
    b.fanPercentage = 41;
    EXPECT_NE(a, b);
}

TEST(TrioIconGeometry, RulesOfTheParts) {
    EXPECT_EQ(R::centerTextSize("12"), 44);
    EXPECT_EQ(R::centerTextSize("\u2014W"), 44);
    EXPECT_EQ(R::centerTextSize("100"), 35.5);
    EXPECT_EQ(R::centerTextSize("1234W"), 29);
    TrioIconRenderKey k;
    k.batteryPresent = true;
    k.topStyle = Top::percentage;
    k.batteryPercent = 100;
    EXPECT_EQ(R::gapWidth(R::topAccessory(k)), 68);
    k.batteryPercent = 5;
    EXPECT_EQ(R::gapWidth(R::topAccessory(k)), 66);
    EXPECT_NEAR(R::ringLength, R::ringRadius * R::ringSweep, 1e-9);
    EXPECT_NEAR(R::ringStart + R::ringSweep / 2, 3 * std::numbers::pi / 2, 1e-12);
    const double g = 0.3;
    EXPECT_EQ(R::splitFillProgress(0.5, g), 0.35); // exactly the gap's left edge
    EXPECT_NEAR(R::splitFillProgress(0.51, g), 0.357 + g, 1e-12);
    EXPECT_EQ(R::splitFillProgress(std::nan(""), g), 0);
    EXPECT_EQ(R::splitFillProgress(2, 0), 1);
    auto bolt = R::chargingBoltPath(1.38).boundingRect();
    EXPECT_NEAR(bolt.top(), 2.1 + (2.1 - 2.1) * 1.38, 0.3); // grows down from its top
    EXPECT_NEAR(bolt.center().x(), 60 + (59.4 - 60) * 1.38, 0.5);
}

// Colours of an image at design points, unpremultiplied.
class Icon {
public:
    explicit Icon(const TrioIconRenderKey& key) : image_(*R::rasterize(key, 4)) {}
    QColor at(QPointF design) const {
        const double s = image_.width() / R::canvas;
        return image_.convertToFormat(QImage::Format_ARGB32)
            .pixelColor(static_cast<int>(design.x() * s), static_cast<int>(design.y() * s));
    }
    QColor ring(double t) const { return at(R::ringPoint(R::ringStart + t * R::ringSweep)); }
    QColor arc(double q) const { return at(R::ringPoint(R::arcStart - q * R::arcSweep)); }
    const QImage& image() const { return image_; }

private:
    QImage image_;
};

::testing::AssertionResult same(const QColor& actual, const QColor& expected) {
    if (expected.alphaF() < 0.01 && actual.alphaF() < 0.05) {
        return ::testing::AssertionSuccess();
    }
    const double d = std::max({std::fabs(actual.redF() - expected.redF()),
                               std::fabs(actual.greenF() - expected.greenF()),
                               std::fabs(actual.blueF() - expected.blueF()),
                               std::fabs(actual.alphaF() - expected.alphaF())});
    if (d < 0.03) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got " << actual.name(QColor::HexArgb).toStdString() << ", wanted "
           << expected.name(QColor::HexArgb).toStdString();
}

TEST(TrioIconPixels, Ring) {
    const auto light = R::palette(false);
    const QColor clear = Qt::transparent;
    enum Role { fg, green, critical, lowPower, track, none };
    auto colour = [&](Role r) {
        switch (r) {
        case fg:
            return light.foreground;
        case green:
            return light.green;
        case critical:
            return light.critical;
        case lowPower:
            return light.lowPower;
        case track:
            return light.track();
        case none:
            break;
        }
        return clear;
    };
    struct Case {
        const char* name;
        TrioIconRenderKey key;
        std::vector<std::pair<double, Role>> samples; // ring fraction, colour
    };
    auto make = [](bool present, int percent, bool charging, bool connected, bool lowPower,
                   Top top) {
        TrioIconRenderKey k;
        k.pointSize = 22;
        k.batteryPresent = present;
        k.batteryPercent = percent;
        k.isCharging = charging;
        k.isConnectedToPower = connected;
        k.isLowPowerMode = lowPower;
        k.topStyle = top;
        k.bottomStyle = Bottom::hidden;
        return k;
    };
    const Case cases[] = {
        {"no battery",
         make(false, 0, false, false, false, Top::smart),
         {{0.1, fg}, {0.43, none}, {0.9, fg}}},
        {"no battery, ring only",
         make(false, 0, false, false, false, Top::ringOnly),
         {{0.1, fg}, {0.5, fg}, {0.9, fg}}},
        {"charging",
         make(true, 80, true, true, false, Top::smart),
         {{0.1, green}, {0.43, none}, {0.7, green}, {0.97, track}}},
        {"on power",
         make(true, 80, false, true, false, Top::smart),
         {{0.1, fg}, {0.43, none}, {0.97, track}}},
        {"on battery",
         make(true, 80, false, false, false, Top::smart),
         {{0.1, fg}, {0.5, fg}, {0.79, fg}, {0.85, track}}},
        {"20 %", make(true, 20, false, false, false, Top::smart), {{0.1, critical}, {0.3, track}}},
        {"21 %", make(true, 21, false, false, false, Top::smart), {{0.1, fg}}},
        {"low power over charging",
         make(true, 80, true, true, true, Top::smart),
         {{0.1, lowPower}}},
        {"low power over critical",
         make(true, 10, false, false, true, Top::smart),
         {{0.05, lowPower}}},
        {"0 %", make(true, 0, false, false, false, Top::smart), {{0.01, track}, {0.5, track}}},
        {"50 % stops at the gap",
         make(true, 50, false, false, false, Top::percentage),
         {{0.3, fg}, {0.70, track}}},
        {"51 % goes on past it",
         make(true, 51, false, false, false, Top::percentage),
         {{0.3, fg}, {0.652, fg}, {0.70, track}}},
    };
    for (const auto& c : cases) {
        Icon icon(c.key);
        for (auto [t, role] : c.samples) {
            EXPECT_TRUE(same(icon.ring(t), colour(role))) << c.name << " at " << t;
        }
    }
    // The charging bolt is green; dark icons use the dark palette.
    Icon charging(make(true, 80, true, true, false, Top::smart));
    EXPECT_TRUE(same(charging.at({60, 12}), light.green));
    auto darkKey = make(true, 80, false, false, false, Top::smart);
    darkKey.isDarkAppearance = true;
    EXPECT_TRUE(same(Icon(darkKey).ring(0.1), R::palette(true).foreground));
}

TEST(TrioIconPixels, BottomIndicator) {
    const auto light = R::palette(false);
    const QPointF dots[] = {{32.5, 105.2}, {50.6, 112.4}, {69.4, 112.4}, {87.5, 105.2}};
    const std::pair<int, int> lit[] = {{2, 0}, {3, 1}, {28, 1}, {29, 2}, {57, 3}, {84, 3}, {85, 4}};
    for (auto [percent, count] : lit) {
        TrioIconRenderKey k;
        k.fanPercentage = percent;
        Icon icon(k);
        for (int d = 0; d < 4; ++d) {
            EXPECT_TRUE(same(icon.at(dots[d]), d < count ? light.foreground : light.track()))
                << percent << "% dot " << d;
        }
    }
    TrioIconRenderKey manual;
    manual.fanPercentage = 90;
    manual.isManualOverride = true;
    EXPECT_TRUE(same(Icon(manual).at(dots[3]), light.manual));

    TrioIconRenderKey arc;
    arc.bottomStyle = Bottom::arc;
    arc.fanPercentage = 1;
    EXPECT_TRUE(same(Icon(arc).arc(0.5), light.track()));
    arc.fanPercentage = 100;
    Icon full(arc);
    EXPECT_TRUE(same(full.arc(0.5), light.foreground));
    EXPECT_TRUE(same(full.arc(0.95), light.foreground));
    arc.fanPercentage = 40;
    Icon part(arc);
    EXPECT_TRUE(same(part.arc(0.2), light.foreground)); // it grows from the left end
    EXPECT_TRUE(same(part.arc(0.8), light.track()));
}

TEST(TrioIconPixels, SizeAndScale) {
    TrioIconRenderKey k;
    k.pointSize = 22;
    auto image = R::rasterize(k, 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 88); // oversampled twice
    EXPECT_DOUBLE_EQ(image->deviceIndependentSize().width(), 22);
    k.pointSize = 12;
    EXPECT_EQ(R::rasterize(k, 0.5)->width(), 24);
    EXPECT_FALSE(R::rasterize(k, 1e9));
}

TEST(TrioIconCache, InsertionOrderEviction) {
    auto& cache = R::RenderCache::shared();
    cache.clear();
    auto keyFor = [](int i) {
        TrioIconRenderKey k;
        k.pointSize = 12 + i;
        return k;
    };
    int builds = 0;
    auto build = [&] {
        ++builds;
        return std::optional<QImage>(QImage(1, 1, QImage::Format_ARGB32_Premultiplied));
    };
    for (int i = 0; i < 96; ++i) {
        cache.image(keyFor(i), build);
    }
    EXPECT_EQ(builds, 96);
    cache.image(keyFor(0), build); // a hit: no drawing, and no change of place
    EXPECT_EQ(builds, 96);
    cache.image(keyFor(96), build);
    EXPECT_EQ(cache.count(), 96u);
    EXPECT_FALSE(cache.contains(keyFor(0)));
    EXPECT_TRUE(cache.contains(keyFor(1)));
    EXPECT_FALSE(cache.image(keyFor(200), [] { return std::optional<QImage>(); }));
    EXPECT_FALSE(cache.contains(keyFor(200)));

    cache.clear();
    auto first = R::render(keyFor(10), 2);
    auto again = R::render(keyFor(10), 3); // the scale is not part of the key
    ASSERT_TRUE(first && again);
    EXPECT_EQ(first->width(), again->width());
    auto dark = R::renderDynamicMenuBarImage(keyFor(10), 2, [] { return true; });
    EXPECT_EQ(cache.count(), 2u);
    cache.clear();
}

TEST(RenderTrioTool, WritesAnyKeyAndRefusesBadOptions) {
    testing::TemporaryFolder folder;
    const std::string out = folder.path() + "/icon.png";
    auto run = testing::runCommand({VENTORAL_RENDER_TRIO_PATH,
                                    "--out",
                                    out,
                                    "--size",
                                    "32",
                                    "--scale",
                                    "2",
                                    "--dark",
                                    "--percent",
                                    "55",
                                    "--charging",
                                    "--connected",
                                    "--top",
                                    "percentage",
                                    "--center",
                                    "fanPercent",
                                    "--bottom",
                                    "arc",
                                    "--fan",
                                    "70",
                                    "--manual"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    QImage written(QString::fromStdString(out));
    EXPECT_EQ(written.width(), 128);
    auto bad = testing::runCommand({VENTORAL_RENDER_TRIO_PATH, "--out", out, "--top", "round"});
    EXPECT_EQ(bad.exitStatus, 2);
    EXPECT_NE(bad.err.find("bad or missing value for --top"), std::string::npos);
    EXPECT_EQ(testing::runCommand({VENTORAL_RENDER_TRIO_PATH, "--size", "20"}).exitStatus, 2);
}

} // namespace
} // namespace ventoral
