#pragma once
// Twips (1/1440 inch) and pixels, from the screen's logical dpi.

#include <QGuiApplication>
#include <QScreen>
#include <QSizeF>
#include <QWidget>
#include <cmath>

namespace velmora {

inline constexpr double TwipsPerInch = 1440;

// Twips per pixel for widget's screen (15 at 96 dpi).
inline double twipsPerPixel(const QWidget *widget)
{
    const QScreen *screen = widget && widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return dpi > 0 ? TwipsPerInch / dpi : 15.0;
}

// Size of widget's whole screen in twips.
inline QSizeF screenTwips(const QWidget *widget)
{
    const QScreen *screen = widget && widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    const QSize pixels = screen ? screen->geometry().size() : QSize(1024, 768);
    return QSizeF(pixels) * twipsPerPixel(widget);
}

// A twips value as whole pixels (nearest).
inline int twipsToPixels(double twips, double tpp)
{
    return int(std::lround(twips / tpp));
}

} // namespace velmora
