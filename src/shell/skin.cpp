#include "skin.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

#include <algorithm>
#include <optional>

namespace shell {
namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString PortalSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString Appearance = QStringLiteral("org.freedesktop.appearance");
const QString ColorSchemeKey = QStringLiteral("color-scheme");

// The colours of one scheme. Text on its surfaces keeps a contrast of at least 4.5:1.
struct Colors {
    QColor window, surface, alternate, text, button, buttonHover, buttonPressed, border, mid,
        disabledText, placeholder, accent, accentText, link, toolTip;
};

Colors colorsOf(ColorScheme scheme) {
    if (scheme == ColorScheme::Dark) {
        return {QColor(0x1f, 0x22, 0x27), QColor(0x16, 0x18, 0x1c), QColor(0x23, 0x27, 0x2d),
                QColor(0xe6, 0xe8, 0xeb), QColor(0x2c, 0x31, 0x38), QColor(0x35, 0x3b, 0x44),
                QColor(0x24, 0x28, 0x2e), QColor(0x4a, 0x51, 0x5c), QColor(0x3a, 0x40, 0x49),
                QColor(0x80, 0x87, 0x91), QColor(0x8d, 0x94, 0x9e), QColor(0x5b, 0x9b, 0xff),
                QColor(0x0b, 0x12, 0x1e), QColor(0x8a, 0xb8, 0xff), QColor(0x2c, 0x31, 0x38)};
    }
    return {QColor(0xf3, 0xf5, 0xf8), QColor(0xff, 0xff, 0xff), QColor(0xf3, 0xf6, 0xfa),
            QColor(0x1b, 0x1f, 0x24), QColor(0xfc, 0xfd, 0xfe), QColor(0xea, 0xf1, 0xfc),
            QColor(0xdc, 0xe6, 0xf6), QColor(0xb9, 0xc2, 0xce), QColor(0xd3, 0xd9, 0xe1),
            QColor(0x8a, 0x92, 0x9c), QColor(0x6e, 0x76, 0x80), QColor(0x25, 0x63, 0xc9),
            QColor(0xff, 0xff, 0xff), QColor(0x1f, 0x57, 0xb3), QColor(0xff, 0xff, 0xf4)};
}

QColor mix(const QColor& a, const QColor& b, double share) {
    const auto channel = [share](int x, int y) {
        return static_cast<int>(x + (y - x) * share + 0.5);
    };
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                  channel(a.blue(), b.blue()));
}

struct SkinState {
    bool attached = false;
    bool followDesktop = false;
    ColorScheme scheme = ColorScheme::Light;
    QString savedStyle;
    QPalette savedPalette;
    QString savedSheet;
    QList<QPointer<QWidget>> aeroWindows;
    int alpha = 255;
    int shade = 0;
    int hue = 0;
    int saturation = 0;
    int brightness = 0;
    QColor ownAccent; // invalid: the scheme's
};

SkinState& state() {
    static SkinState skin;
    return skin;
}

std::optional<ColorScheme> portalScheme() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(PortalService).value()) {
        return std::nullopt;
    }
    QDBusMessage read =
        QDBusMessage::createMethodCall(PortalService, PortalPath, PortalSettings, "Read");
    read << Appearance << ColorSchemeKey;
    const QDBusMessage reply = bus.call(read, QDBus::Block, 300);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    QVariant value = reply.arguments().constFirst();
    while (value.canConvert<QDBusVariant>()) {
        value = qvariant_cast<QDBusVariant>(value).variant();
    }
    switch (value.toUInt()) {
    case 1:
        return ColorScheme::Dark;
    case 2:
        return ColorScheme::Light;
    default:
        return std::nullopt;
    }
}

QString styleSheet(ColorScheme scheme) {
    const Colors c = colorsOf(scheme);
    const auto hex = [](const QColor& color) { return color.name(); };
    // Borders and paddings keep a widget's outer size when it gains the focus ring, so that
    // windows with fixed places for their controls stay as they are laid out.
    return QStringLiteral(R"(
QGroupBox {
    border: 1px solid %1;
    border-radius: 8px;
    margin-top: 1.2em;
    padding: 8px 6px 6px 6px;
    background: %2;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 10px;
    padding: 0 4px;
    color: %3;
    font-weight: bold;
}
QPushButton {
    background: %4;
    color: %5;
    border: 1px solid %1;
    border-radius: 6px;
    padding: 4px 10px;
}
QPushButton:hover { background: %6; border-color: %3; }
QPushButton:pressed { background: %7; }
QPushButton:default { border-color: %3; }
QPushButton:focus { border: 2px solid %3; padding: 3px 9px; }
QPushButton:disabled { color: %8; background: %9; border-color: %10; }
QPushButton[skinRole="compact"] { padding: 0px 1px; }
QPushButton[skinRole="compact"]:focus { padding: 0px; }
QPushButton[skinRole="link"] {
    background: transparent;
    border: 2px solid transparent;
    border-radius: 4px;
    padding: 1px 4px;
    color: %11;
    text-decoration: underline;
}
QPushButton[skinRole="link"]:hover { color: %3; }
QPushButton[skinRole="link"]:focus { border: 2px solid %3; }
QToolTip { color: %5; background: %12; border: 1px solid %1; padding: 3px; }
)")
        .arg(hex(c.border), hex(mix(c.window, c.surface, 0.5)), hex(c.accent), hex(c.button),
             hex(c.text), hex(c.buttonHover), hex(c.buttonPressed), hex(c.disabledText),
             hex(c.window))
        .arg(hex(c.mid), hex(c.link), hex(c.toolTip));
}

// Fusion, with the few standard pictures that Fusion draws in black (and that would vanish
// on a dark surface) drawn in the scheme's colours.
class SkinStyle : public QProxyStyle {
public:
    SkinStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override {
        switch (which) {
        case SP_MediaPlay:
            return SkinDrawnIcon([](QPainter& p, const QColor& accent, const QColor&) {
                QPainterPath triangle;
                triangle.moveTo(20, 12);
                triangle.lineTo(52, 32);
                triangle.lineTo(20, 52);
                triangle.closeSubpath();
                p.setPen(QPen(accent, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                p.setBrush(accent);
                p.drawPath(triangle);
            });
        case SP_DialogCloseButton:
            return SkinDrawnIcon([](QPainter& p, const QColor&, const QColor& text) {
                p.setPen(QPen(text, 5, Qt::SolidLine, Qt::RoundCap));
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(QRectF(8, 8, 48, 48));
                p.drawLine(QPointF(23, 23), QPointF(41, 41));
                p.drawLine(QPointF(41, 23), QPointF(23, 41));
            });
        default:
            return QProxyStyle::standardIcon(which, option, widget);
        }
    }
};

void applyAero(QWidget* window) {
    const SkinState& skin = state();
    const Colors colors = colorsOf(skin.scheme);
    const double tint = (255 - skin.alpha) / 255.0 / 3.0;
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, mix(colors.window, SkinH_AccentColor(), tint));
    window->setPalette(palette);
    window->update();
}

void apply() {
    SkinState& skin = state();
    QApplication::setStyle(new SkinStyle);
    QApplication::setPalette(SkinPalette(skin.scheme));
    qApp->setStyleSheet(styleSheet(skin.scheme));
    skin.aeroWindows.removeAll(nullptr);
    for (const QPointer<QWidget>& window : skin.aeroWindows) {
        applyAero(window);
    }
}

// Follows the desktop's light or dark preference while the skin is attached.
class SchemeWatcher : public QObject {
    Q_OBJECT
public:
    static void start() {
        static SchemeWatcher* watcher = nullptr;
        if (watcher) {
            return;
        }
        watcher = new SchemeWatcher(qApp);
        QDBusConnection::sessionBus().connect(PortalService, PortalPath, PortalSettings,
                                              QStringLiteral("SettingChanged"), watcher,
                                              SLOT(settingChanged(QString, QString, QDBusVariant)));
    }

private:
    using QObject::QObject;

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant&) {
        SkinState& skin = state();
        if (group != Appearance || key != ColorSchemeKey || !skin.attached || !skin.followDesktop) {
            return;
        }
        const ColorScheme now = DesktopColorScheme();
        if (now != skin.scheme) {
            skin.scheme = now;
            apply();
        }
    }
};

void attach(ColorScheme scheme, bool followDesktop) {
    SkinState& skin = state();
    if (!skin.attached) {
        skin.savedStyle = QApplication::style()->name();
        skin.savedPalette = QApplication::palette();
        skin.savedSheet = qApp->styleSheet();
    }
    skin.attached = true;
    skin.followDesktop = followDesktop;
    skin.scheme = scheme;
    apply();
}

} // namespace

QIcon SkinDrawnIcon(const std::function<void(QPainter&, const QColor&, const QColor&)>& draw) {
    const QPalette palette = QApplication::palette();
    QIcon icon;
    for (const int size : {16, 32, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        draw(p, palette.color(QPalette::Highlight), palette.color(QPalette::WindowText));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

ColorScheme DesktopColorScheme() {
    const QString chosen = qEnvironmentVariable("LUMADOC_COLOR_SCHEME").trimmed().toLower();
    if (chosen == QLatin1String("dark")) {
        return ColorScheme::Dark;
    }
    if (chosen == QLatin1String("light")) {
        return ColorScheme::Light;
    }
    if (const std::optional<ColorScheme> portal = portalScheme()) {
        return *portal;
    }
    const QString gtkTheme = qEnvironmentVariable("GTK_THEME").toLower();
    if (gtkTheme.endsWith(QLatin1String(":dark")) || gtkTheme.endsWith(QLatin1String("-dark"))) {
        return ColorScheme::Dark;
    }
    const QPalette platform = state().attached ? state().savedPalette : QApplication::palette();
    return platform.color(QPalette::Window).lightness() < 128 ? ColorScheme::Dark
                                                              : ColorScheme::Light;
}

QPalette SkinPalette(ColorScheme scheme) {
    const Colors c = colorsOf(scheme);
    QPalette p;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, c.window);
        p.setColor(group, QPalette::WindowText, c.text);
        p.setColor(group, QPalette::Base, c.surface);
        p.setColor(group, QPalette::AlternateBase, c.alternate);
        p.setColor(group, QPalette::Text, c.text);
        p.setColor(group, QPalette::Button, c.button);
        p.setColor(group, QPalette::ButtonText, c.text);
        p.setColor(group, QPalette::BrightText, Qt::white);
        p.setColor(group, QPalette::Light, c.button.lighter(115));
        p.setColor(group, QPalette::Midlight, c.mid.lighter(110));
        p.setColor(group, QPalette::Mid, c.mid);
        p.setColor(group, QPalette::Dark, c.border);
        p.setColor(group, QPalette::Shadow, scheme == ColorScheme::Dark ? Qt::black : c.border);
        p.setColor(group, QPalette::Highlight, c.accent);
        p.setColor(group, QPalette::HighlightedText, c.accentText);
        p.setColor(group, QPalette::Link, c.link);
        p.setColor(group, QPalette::LinkVisited, c.link);
        p.setColor(group, QPalette::ToolTipBase, c.toolTip);
        p.setColor(group, QPalette::ToolTipText, c.text);
        p.setColor(group, QPalette::PlaceholderText, c.placeholder);
    }
    // A selection in a window that is not active is paler, with the text's own colour on it.
    p.setColor(QPalette::Inactive, QPalette::Highlight, mix(c.surface, c.accent, 0.3));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, c.text);
    p.setColor(QPalette::Disabled, QPalette::Window, c.window);
    p.setColor(QPalette::Disabled, QPalette::Base, c.window);
    p.setColor(QPalette::Disabled, QPalette::Button, c.window);
    p.setColor(QPalette::Disabled, QPalette::Mid, c.mid);
    p.setColor(QPalette::Disabled, QPalette::Dark, c.mid);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::PlaceholderText}) {
        p.setColor(QPalette::Disabled, role, c.disabledText);
    }
    p.setColor(QPalette::Disabled, QPalette::Highlight, c.mid);
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, c.disabledText);
    return p;
}

void SkinH_Attach() {
    attach(DesktopColorScheme(), true);
    SchemeWatcher::start();
}

void SkinH_Attach(ColorScheme scheme) {
    attach(scheme, false);
}

bool SkinH_Attached() {
    return state().attached;
}

void SkinH_Aero(QWidget* window) {
    SkinState& skin = state();
    if (!window) {
        return;
    }
    if (!skin.aeroWindows.contains(window)) {
        skin.aeroWindows.append(window);
    }
    window->setAutoFillBackground(true);
    if (skin.attached) {
        applyAero(window);
    }
}

void SkinH_Aero_Adjust(int alpha, int shade, int hue, int saturation, int brightness, int red,
                       int green, int blue, int /*reserved*/) {
    SkinState& skin = state();
    skin.alpha = std::clamp(alpha, 0, 255);
    skin.shade = std::clamp(shade, 0, 255);
    skin.hue = hue;
    skin.saturation = std::clamp(saturation, -100, 100);
    skin.brightness = std::clamp(brightness, -100, 100);
    skin.ownAccent =
        (red || green || blue)
            ? QColor(std::clamp(red, 0, 255), std::clamp(green, 0, 255), std::clamp(blue, 0, 255))
            : QColor();
    if (skin.attached) {
        skin.aeroWindows.removeAll(nullptr);
        for (const QPointer<QWidget>& window : skin.aeroWindows) {
            applyAero(window);
        }
    }
}

QColor SkinH_AccentColor() {
    const SkinState& skin = state();
    const QColor base = skin.ownAccent.isValid() ? skin.ownAccent : colorsOf(skin.scheme).accent;
    if (!skin.hue && !skin.saturation && !skin.brightness) {
        return base;
    }
    const auto scaled = [](int value, int percent) {
        return std::clamp(value + value * percent / 100, 0, 255);
    };
    const int hue = ((std::max(base.hsvHue(), 0) + skin.hue) % 360 + 360) % 360;
    return QColor::fromHsv(hue, scaled(base.hsvSaturation(), skin.saturation),
                           scaled(base.value(), skin.brightness));
}

int SkinH_Shade() {
    return state().shade;
}

void SkinH_Detach() {
    SkinState& skin = state();
    if (!skin.attached) {
        return;
    }
    skin.attached = false;
    qApp->setStyleSheet(skin.savedSheet);
    if (QStyle* style = QStyleFactory::create(skin.savedStyle)) {
        QApplication::setStyle(style);
    }
    QApplication::setPalette(skin.savedPalette);
    skin.aeroWindows.removeAll(nullptr);
    for (const QPointer<QWidget>& window : skin.aeroWindows) {
        window->setPalette(QPalette());
        window->setAutoFillBackground(false);
    }
    skin.aeroWindows.clear();
}

} // namespace shell

#include "skin.moc"
