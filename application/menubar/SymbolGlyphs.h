#pragma once

#include <QColor>
#include <QPainter>
#include <QPointF>
#include <string_view>

namespace ventoral {

// The project's own drawings for the symbols the icons use, for small sizes. `pointSize` is the
// symbol's size in the painter's units, as a font size would be.
bool hasSymbol(std::string_view name);
// Draws the symbol centred at `centre`; false (and nothing drawn) for an unknown name.
bool drawSymbol(QPainter& painter, std::string_view name, double pointSize, QPointF centre,
                const QColor& color);

} // namespace ventoral
