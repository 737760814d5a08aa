#include "application/menubar/SymbolGlyphs.h"

#include <QPainterPath>
#include <QTransform>
#include <cmath>
#include <numbers>

namespace ventoral {
namespace {

// Three swept blades around a round hub, in a box 1 unit across centred at the origin.
QPainterPath fanBlades() {
    QPainterPath blades;
    for (int i = 0; i < 3; ++i) {
        QPainterPath blade;
        blade.moveTo(0.06, -0.07);
        blade.cubicTo(0.02, -0.30, 0.18, -0.47, 0.36, -0.45);
        blade.cubicTo(0.47, -0.44, 0.50, -0.33, 0.43, -0.24);
        blade.cubicTo(0.34, -0.12, 0.20, -0.06, 0.09, 0.04);
        blade.closeSubpath();
        blades.addPath(QTransform().rotate(120.0 * i).map(blade));
    }
    blades.addEllipse(QPointF(0, 0), 0.11, 0.11);
    blades.setFillRule(Qt::WindingFill);
    return blades;
}

// A plug seen from the side, prongs up: body, neck and cord, 1 unit tall centred at the origin.
QPainterPath powerPlug() {
    QPainterPath plug;
    plug.addRoundedRect(QRectF(-0.20, -0.50, 0.10, 0.26), 0.04, 0.04); // prongs
    plug.addRoundedRect(QRectF(0.10, -0.50, 0.10, 0.26), 0.04, 0.04);
    QPainterPath body;
    body.moveTo(-0.34, -0.28);
    body.lineTo(0.34, -0.28);
    body.lineTo(0.34, 0.02);
    body.cubicTo(0.34, 0.20, 0.20, 0.30, 0.08, 0.30);
    body.lineTo(-0.08, 0.30);
    body.cubicTo(-0.20, 0.30, -0.34, 0.20, -0.34, 0.02);
    body.closeSubpath();
    plug.addPath(body);
    plug.addRoundedRect(QRectF(-0.07, 0.28, 0.14, 0.22), 0.03, 0.03); // cord
    plug.setFillRule(Qt::WindingFill);
    return plug;
}

// A lightning bolt, 1 unit tall centred at the origin.
QPainterPath bolt() {
    QPainterPath b;
    b.moveTo(0.10, -0.50);
    b.lineTo(-0.30, 0.06);
    b.lineTo(-0.02, 0.06);
    b.lineTo(-0.10, 0.50);
    b.lineTo(0.30, -0.08);
    b.lineTo(0.02, -0.08);
    b.closeSubpath();
    return b;
}

const QPainterPath* symbolPath(std::string_view name) {
    static const QPainterPath fan = fanBlades();
    static const QPainterPath plug = powerPlug();
    static const QPainterPath lightning = bolt();
    if (name == "fanblades.fill") {
        return &fan;
    }
    if (name == "powerplug.portrait.fill" || name == "powerplug.fill") {
        return &plug;
    }
    if (name == "bolt.fill") {
        return &lightning;
    }
    return nullptr;
}

} // namespace

bool hasSymbol(std::string_view name) {
    return symbolPath(name) != nullptr;
}

bool drawSymbol(QPainter& painter, std::string_view name, double pointSize, QPointF centre,
                const QColor& color) {
    const QPainterPath* path = symbolPath(name);
    if (!path) {
        return false;
    }
    // A symbol fills about as much as a capital letter of that font size.
    const double size = pointSize * 0.9;
    QTransform place;
    place.translate(centre.x(), centre.y());
    place.scale(size, size);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(place.map(*path));
    painter.restore();
    return true;
}

} // namespace ventoral
