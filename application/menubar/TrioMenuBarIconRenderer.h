#pragma once

#include "application/menubar/TrioIconRenderKey.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace ventoral {

namespace TrioMenuBarIconRenderer {

inline constexpr double canvas = 120;
inline constexpr double ringCentreX = 60;
inline constexpr double ringCentreY = 60.8;
inline constexpr double ringRadius = 53.2;
inline constexpr double ringWidth = 10.8;
inline constexpr double ringStart = 2.5951315813560196;
inline constexpr double ringSweep = 4.23451479805734;
inline constexpr double ringLength = 225.2761872566505;
inline constexpr double arcStart = 2.1261600947794923;
inline constexpr double arcSweep = 1.0943214410004447;

struct Palette {
    QColor foreground, green, critical, lowPower, manual;
    QColor track() const;
};
Palette palette(bool isDarkAppearance);

// What sits in the gap at the top of the ring.
struct TopAccessory {
    enum class Kind { none, bolt, plug, text };
    Kind kind = Kind::none;
    std::string text;
    friend bool operator==(const TopAccessory&, const TopAccessory&) = default;
};
TopAccessory topAccessory(const TrioIconRenderKey& key);
double gapWidth(const TopAccessory& accessory); // 0 without a gap
QColor ringFillColor(const TrioIconRenderKey& key, const Palette& palette);
// How far along the ring the fill reaches, skipping a gap of `gapFraction` at the top.
double splitFillProgress(double progress, double gapFraction);
// The centre slot's text size for `text`.
double centerTextSize(const std::string& text);
bool isDotLit(int dot, int fanPercentage); // dots 0...3, left to right
QPainterPath chargingBoltPath(double scale);
// A point of the ring geometry at `angle`.
QPointF ringPoint(double angle);

// Draws the icon at `scaleFactor` pixels per point (oversampled twice); none if the bitmap
// cannot be made.
std::optional<QImage> rasterize(const TrioIconRenderKey& key, double scaleFactor);

// The process's images, by key; the scale factor of the first rasterization serves them all.
class RenderCache {
public:
    static constexpr std::size_t capacity = 96;
    static RenderCache& shared();
    std::optional<QImage> image(const TrioIconRenderKey& key,
                                const std::function<std::optional<QImage>()>& build);
    std::size_t count() const;
    bool contains(const TrioIconRenderKey& key) const;
    void clear();

private:
    mutable std::mutex lock_;
    std::unordered_map<TrioIconRenderKey, QImage, TrioIconRenderKeyHash> images_;
    std::deque<TrioIconRenderKey> order_;
};

std::optional<QImage> render(const TrioIconRenderKey& key, double scaleFactor);
// The icon for the appearance the tray reports now.
std::optional<QImage> renderDynamicMenuBarImage(const TrioIconRenderKey& baseKey,
                                                double scaleFactor,
                                                const std::function<bool()>& appearanceIsDark);

} // namespace TrioMenuBarIconRenderer

} // namespace ventoral
