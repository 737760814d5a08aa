#include "application/menubar/TrioMenuBarIconRenderer.h"

#include "application/menubar/SymbolGlyphs.h"

#include <QFont>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace ventoral::TrioMenuBarIconRenderer {
namespace {

QColor rgba(double r, double g, double b, double a) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                            static_cast<float>(a));
}

// An arc of the ring geometry from one angle to another, either way round.
QPainterPath arcPath(double from, double to) {
    // Qt counts degrees the other way round (counter-clockwise on screen).
    constexpr double degrees = 180 / 3.14159265358979323846;
    const QRectF box(ringCentreX - ringRadius, ringCentreY - ringRadius, 2 * ringRadius,
                     2 * ringRadius);
    QPainterPath path;
    path.arcMoveTo(box, -from * degrees);
    path.arcTo(box, -from * degrees, -(to - from) * degrees);
    return path;
}

QPainterPath ringArc(double fromFraction, double toFraction) {
    return arcPath(ringStart + fromFraction * ringSweep, ringStart + toFraction * ringSweep);
}

void stroke(QPainter& painter, const QPainterPath& path, const QColor& color) {
    QPen pen(color, ringWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.strokePath(path, pen);
}

// Bold digits with even widths, their outline centred on `centre`.
void drawCenteredText(QPainter& painter, const std::string& text, double size, QPointF centre,
                      const QColor& color) {
    QFont font("DejaVu Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(100); // laid out large, then scaled to the exact size
    QPainterPath outline;
    outline.addText(0, 0, font, QString::fromStdString(text));
    outline = QTransform::fromScale(size / 100, size / 100).map(outline);
    const QRectF bounds = outline.boundingRect();
    outline.translate(centre - bounds.center());
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(outline);
    painter.restore();
}

void drawOuterBatteryRing(const TrioIconRenderKey& key, QPainter& painter, const Palette& p) {
    const TopAccessory accessory = topAccessory(key);
    const double width = gapWidth(accessory);
    const QColor fill = ringFillColor(key, p);
    const double g = width > 0 ? std::min(width / ringLength, 0.9) : 0;
    const double left = (1 - g) / 2;
    const double right = left + g;

    if (g == 0) {
        stroke(painter, ringArc(0, 1), p.track());
    } else {
        if (left > 0) {
            stroke(painter, ringArc(0, left), p.track());
        }
        if (right < 1) {
            stroke(painter, ringArc(right, 1), p.track());
        }
    }

    const double progress = key.batteryPresent ? key.batteryPercent / 100.0 : 1.0;
    const double v = splitFillProgress(progress, g);
    if (v > 0.005) {
        if (g == 0) {
            stroke(painter, ringArc(0, std::min(v, 1.0)), fill);
        } else {
            if (std::min(left, v) > 0) {
                stroke(painter, ringArc(0, std::min(left, v)), fill);
            }
            if (v > right) {
                stroke(painter, ringArc(right, v), fill);
            }
        }
    }

    switch (accessory.kind) {
    case TopAccessory::Kind::none:
        break;
    case TopAccessory::Kind::bolt:
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(key.isCharging ? p.green : p.foreground);
        painter.drawPath(chargingBoltPath(1.38));
        painter.restore();
        break;
    case TopAccessory::Kind::plug:
        for (const char* name : {"powerplug.portrait.fill", "powerplug.fill", "bolt.fill"}) {
            if (drawSymbol(painter, name, 22.5, {60, 12}, p.foreground)) {
                break;
            }
        }
        break;
    case TopAccessory::Kind::text:
        drawCenteredText(painter, accessory.text, accessory.text.size() < 3 ? 28.5 : 25.5,
                         {60, 11.8}, fill);
        break;
    }
}

void drawCenterSlot(const TrioIconRenderKey& key, QPainter& painter, const Palette& p) {
    if (key.centerSlot == TrioCenterSlot::fanGlyph) {
        drawSymbol(painter, "fanblades.fill", 45, {ringCentreX, ringCentreY},
                   key.isManualOverride ? p.manual : p.foreground);
        return;
    }
    const bool manual = key.centerSlot == TrioCenterSlot::fanPercent && key.isManualOverride;
    drawCenteredText(painter, key.centerText, centerTextSize(key.centerText),
                     {ringCentreX, ringCentreY}, manual ? p.manual : p.foreground);
}

void drawBottomIndicator(const TrioIconRenderKey& key, QPainter& painter, const Palette& p) {
    const QColor lit = key.isManualOverride ? p.manual : p.foreground;
    switch (key.bottomStyle) {
    case TrioBottomStyle::dots: {
        const QPointF centres[] = {{32.5, 105.2}, {50.6, 112.4}, {69.4, 112.4}, {87.5, 105.2}};
        painter.save();
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 4; ++i) {
            painter.setBrush(isDotLit(i, key.fanPercentage) ? lit : p.track());
            painter.drawEllipse(centres[i], 6.2, 6.2);
        }
        painter.restore();
        break;
    }
    case TrioBottomStyle::arc: {
        stroke(painter, arcPath(arcStart, arcStart - arcSweep), p.track());
        const double q = std::min(key.fanPercentage / 100.0, 1.0);
        if (q > 0.01) {
            stroke(painter, arcPath(arcStart, arcStart - q * arcSweep), lit);
        }
        break;
    }
    case TrioBottomStyle::hidden:
        break;
    }
}

} // namespace

QColor Palette::track() const {
    QColor c = foreground;
    c.setAlphaF(0.24f);
    return c;
}

Palette palette(bool dark) {
    if (dark) {
        return {rgba(1, 1, 1, 0.96), rgba(0.22, 0.86, 0.42, 1), rgba(1.00, 0.30, 0.26, 1),
                rgba(1.00, 0.82, 0.16, 1), rgba(0.22, 0.84, 0.96, 1)};
    }
    return {rgba(0.06, 0.07, 0.09, 0.92), rgba(0.12, 0.70, 0.31, 1), rgba(0.88, 0.18, 0.16, 1),
            rgba(0.86, 0.62, 0.02, 1), rgba(0.02, 0.56, 0.76, 1)};
}

TopAccessory topAccessory(const TrioIconRenderKey& key) {
    using K = TopAccessory::Kind;
    if (!key.batteryPresent) {
        return {key.topStyle == TrioTopBatteryStyle::ringOnly ? K::none : K::plug, {}};
    }
    switch (key.topStyle) {
    case TrioTopBatteryStyle::percentage:
        return {K::text, std::to_string(key.batteryPercent)};
    case TrioTopBatteryStyle::ringOnly:
        return {K::none, {}};
    case TrioTopBatteryStyle::smart:
        break;
    }
    if (key.isCharging) {
        return {K::bolt, {}};
    }
    return {key.isConnectedToPower ? K::plug : K::none, {}};
}

double gapWidth(const TopAccessory& accessory) {
    switch (accessory.kind) {
    case TopAccessory::Kind::bolt:
    case TopAccessory::Kind::plug:
        return 52;
    case TopAccessory::Kind::text:
        return accessory.text.size() < 3 ? 66 : 68;
    case TopAccessory::Kind::none:
        break;
    }
    return 0;
}

QColor ringFillColor(const TrioIconRenderKey& key, const Palette& p) {
    if (!key.batteryPresent) {
        return p.foreground;
    }
    if (key.isLowPowerMode) {
        return p.lowPower;
    }
    if (key.isCharging) {
        return p.green;
    }
    return key.batteryPercent <= 20 ? p.critical : p.foreground;
}

double splitFillProgress(double progress, double gapFraction) {
    const double p = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    if (gapFraction <= 0) {
        return p;
    }
    const double e = 1 - gapFraction;
    double v = std::min(e * p, e);
    if (v > e / 2) {
        v += gapFraction;
    }
    return v;
}

double centerTextSize(const std::string& text) {
    // Characters, not bytes: the em dash of "—W" is one.
    std::size_t characters = 0;
    for (unsigned char c : text) {
        characters += (c & 0xC0) != 0x80;
    }
    return characters < 3 ? 44 : characters == 3 ? 35.5 : 29;
}

bool isDotLit(int dot, int fanPercentage) {
    static constexpr int thresholds[] = {3, 29, 57, 85};
    return dot >= 0 && dot < 4 && fanPercentage >= thresholds[dot];
}

QPointF ringPoint(double angle) {
    return {ringCentreX + ringRadius * std::cos(angle), ringCentreY + ringRadius * std::sin(angle)};
}

QPainterPath chargingBoltPath(double scale) {
    QPainterPath path({62.1, 2.2});
    path.quadTo({62.8, 2.5}, {62.6, 3.3});
    path.lineTo(61.2, 7.8);
    path.lineTo(65.9, 7.8);
    path.quadTo({66.9, 7.8}, {67.3, 8.6});
    path.quadTo({67.6, 9.3}, {67.0, 10.0});
    path.lineTo(57.0, 21.3);
    path.quadTo({56.4, 22.0}, {55.6, 21.6});
    path.quadTo({55.0, 21.3}, {55.3, 20.5});
    path.lineTo(57.4, 14.1);
    path.lineTo(52.9, 14.1);
    path.quadTo({52.0, 14.1}, {51.6, 13.3});
    path.quadTo({51.3, 12.6}, {51.9, 12.0});
    path.lineTo(61.1, 2.7);
    path.quadTo({61.6, 2.1}, {62.1, 2.2});
    path.closeSubpath();
    path.setFillRule(Qt::WindingFill);
    // Scaled about the bolt's top so it grows downwards into the gap.
    QTransform about;
    about.translate((1 - scale) * 60, (1 - scale) * 2.1);
    about.scale(scale, scale);
    return about.map(path);
}

std::optional<QImage> rasterize(const TrioIconRenderKey& key, double scaleFactor) {
    const double pixels = std::ceil(2 * scaleFactor * key.pointSize);
    if (!std::isfinite(pixels) || pixels > 8192) {
        return std::nullopt;
    }
    const int n = std::max(24, static_cast<int>(pixels));
    QImage image(n, n, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return std::nullopt;
    }
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        // Design units: 120 across, y downwards, as the device already is.
        painter.scale(n / canvas, n / canvas);
        const Palette p = palette(key.isDarkAppearance);
        drawOuterBatteryRing(key, painter, p);
        drawCenterSlot(key, painter, p);
        drawBottomIndicator(key, painter, p);
    }
    image.setDevicePixelRatio(static_cast<double>(n) / key.pointSize);
    return image;
}

RenderCache& RenderCache::shared() {
    static RenderCache cache;
    return cache;
}

std::optional<QImage> RenderCache::image(const TrioIconRenderKey& key,
                                         const std::function<std::optional<QImage>()>& build) {
    {
        std::lock_guard guard(lock_);
        if (auto found = images_.find(key); found != images_.end()) {
            return found->second;
        }
    }
    std::optional<QImage> built = build();
    if (!built) {
        return std::nullopt;
    }
    std::lock_guard guard(lock_);
    if (images_.find(key) == images_.end()) {
        if (order_.size() >= capacity) {
            images_.erase(order_.front());
            order_.pop_front();
        }
        order_.push_back(key);
    }
    images_[key] = *built; // two threads may have drawn it; the later one stays
    return built;
}

std::size_t RenderCache::count() const {
    std::lock_guard guard(lock_);
    return images_.size();
}

bool RenderCache::contains(const TrioIconRenderKey& key) const {
    std::lock_guard guard(lock_);
    return images_.count(key) > 0;
}

void RenderCache::clear() {
    std::lock_guard guard(lock_);
    images_.clear();
    order_.clear();
}

std::optional<QImage> render(const TrioIconRenderKey& key, double scaleFactor) {
    const double scale = std::max(scaleFactor, 2.0);
    return RenderCache::shared().image(key, [&] { return rasterize(key, scale); });
}

std::optional<QImage> renderDynamicMenuBarImage(const TrioIconRenderKey& baseKey,
                                                double scaleFactor,
                                                const std::function<bool()>& appearanceIsDark) {
    TrioIconRenderKey key = baseKey;
    key.isDarkAppearance = appearanceIsDark && appearanceIsDark();
    return render(key, scaleFactor);
}

} // namespace ventoral::TrioMenuBarIconRenderer
