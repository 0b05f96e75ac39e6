#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QString>

#include <functional>

class QPainter;
class QWidget;

namespace shell {

/// Light or dark, as the desktop prefers.
enum class ColorScheme { Light, Dark };

/// What the desktop prefers: "LUMADOC_COLOR_SCHEME" (light or dark) when set; otherwise the
/// desktop portal's appearance setting; otherwise a GTK theme named "...:dark" or "...-dark";
/// otherwise the lightness of the window colour the platform gives Qt.
ColorScheme DesktopColorScheme();

/// The skin's palette for a scheme, without applying it.
QPalette SkinPalette(ColorScheme scheme);

/// A picture drawn on a 64 x 64 canvas by `draw`, given the application's accent and text
/// colours, at the sizes screens of any density ask for.
QIcon SkinDrawnIcon(const std::function<void(QPainter&, const QColor&, const QColor&)>& draw);

/// Gives every window of the application, present and future, the skin: one style, palette
/// and style sheet, in the desktop's scheme, and follows the desktop when it changes its
/// preference. Attaching twice changes nothing.
void SkinH_Attach();
/// The same in a given scheme, not following the desktop (pictures, tests).
void SkinH_Attach(ColorScheme scheme);
bool SkinH_Attached();

/// Gives `window` the skin's accent: its surface takes a tint of the accent colour, in the
/// strength SkinH_Aero_Adjust sets. The window stays opaque.
void SkinH_Aero(QWidget* window);

/// Tunes the accent of the windows given SkinH_Aero. `alpha` (0-255) is how much of the
/// window's own colour covers the accent tint: 255 shows no tint, 0 the full tint of a third
/// of the accent. `shade` (0-255) darkens the line under a window's banner. `hue` turns the
/// accent by that many degrees; `saturation` and `brightness` change it by that many percent
/// (-100 to 100). `red`, `green` and `blue` (all 0: the skin's own) replace the accent colour.
/// `reserved` is unused. Out-of-range values are clamped.
void SkinH_Aero_Adjust(int alpha, int shade, int hue, int saturation, int brightness, int red,
                       int green, int blue, int reserved);

/// The accent as adjusted, and the banner line's darkness, for windows that paint with them.
QColor SkinH_AccentColor();
int SkinH_Shade();

/// Gives the application its look from before SkinH_Attach back.
void SkinH_Detach();

} // namespace shell
