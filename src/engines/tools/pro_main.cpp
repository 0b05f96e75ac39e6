// pro: a small window telling the user that an export has finished; it closes itself after a
// few seconds (the converter also ends it by name).
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Lumadoc"));
    window.setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(&window);
    auto* title = new QLabel(QStringLiteral("Export finished"), &window);
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    auto* detail =
        new QLabel(QStringLiteral("Writing the last files to the output folder..."), &window);
    detail->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    layout->addWidget(detail);
    window.resize(340, 110);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window.move(area.right() - window.width() - 24, area.bottom() - window.height() - 48);
    }
    window.show();
    window.activateWindow();
    QTimer::singleShot(4000, &app, &QApplication::quit);
    return app.exec();
}
