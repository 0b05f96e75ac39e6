// The launcher offscreen: its controls and their order, the converter buttons, the image
// program, the help page, printing a document to PDF (on a spooler that plays Windows, and as
// root through the real CUPS), shutdown, the skin, and a second start of the real program.
#include "images2pdf/frm_printing.h"
#include "shell/frm_main.h"
#include "shell/skin.h"

#include "cups_fixture.h"
#include "fake_spooler.h"
#include "recording_dialogs.h"
#include "recording_prompts.h"

#include "convert/settings_files.h"
#include "platform/app_folders.h"
#include "platform/common_dialogs.h"
#include "platform/processes.h"
#include "platform/start_window.h"
#include "print2pdf/document_printer.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>

using namespace shell;

namespace {

const QString app = QStringLiteral(LUMADOC_APP_DIR);

// Records what the launcher starts and ends instead of touching the user's processes.
class RecordingProcesses : public platform::ForwardingProcesses {
public:
    void endByName(const QString& exeName) override { ended << exeName; }
    void endProgram(const QString& exePath) override { ended << exePath; }
    bool startDetached(const QString& program, platform::StartWindow window) override {
        detached << program;
        windows << window;
        return true;
    }
    QStringList ended, detached;
    QList<platform::StartWindow> windows;
};

double luminance(const QColor& c) {
    const auto channel = [](double v) {
        v /= 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

class Launcher : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        platform::SetAppFolder(app);
        settings = dir.path() + "/settings";
        QDir().mkpath(settings);
    }
    void TearDown() override {
        launcher.reset();
        SkinH_Detach();
        platform::SetAppFolder(QString());
    }

    frmMain& open() {
        frmMain::Services services;
        services.openUrl = [this](const QUrl& url) {
            opened << url;
            return true;
        };
        services.processes = &processes;
        services.printer = printerForNextLauncher;
        services.converter.settingsFolder = settings;
        services.converter.processes = &processes;
        services.converter.openUrl = services.openUrl;
        services.converter.playSound = [](const QString&) {};
        launcher = std::make_unique<frmMain>(services);
        launcher->show();
        QApplication::processEvents();
        return *launcher;
    }
    QPushButton* button(const char* name) {
        auto* b = launcher->findChild<QPushButton*>(QString::fromLatin1(name));
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    void click(const char* name) {
        button(name)->click();
        QApplication::processEvents(); // the buttons' handlers run queued
    }

    QTemporaryDir dir;
    QString settings;
    QList<QUrl> opened;
    RecordingProcesses processes;
    testing_support::RecordingDialogs dialogs;
    testing_support::RecordingPrompts prompts;
    print2pdf::DocumentPrinter* printerForNextLauncher = nullptr;
    std::unique_ptr<frmMain> launcher;
};

TEST_F(Launcher, LoadsWithItsControlsInReadingOrderNamedForScreenReaders) {
    frmMain& w = open();
    EXPECT_EQ(w.windowTitle(), "Lumadoc");
    EXPECT_EQ(platform::SharedDialogs().owner(), &w);
    EXPECT_TRUE(SkinH_Attached());

    const struct {
        const char* name;
        const char* frame;
        const char* caption;
    } buttons[] = {
        {"Command3", "Frame1", "Lumadoc"},
        {"Command1", "Frame1", "Create PDF From File"},
        {"Command4", "Frame2", "PDF To TXT Converter"},
        {"Command5", "Frame2", "PDF To Word Converter"},
        {"Command6", "Frame2", "PDF To Images Converter"},
        {"Command7", "Frame2", "PDF To HTML Converter"},
        {"Command8", "Frame2", "PDF To Flash Converter"},
        {"Label1", nullptr, "Lumadoc help and product page"},
    };
    EXPECT_EQ(w.findChild<QGroupBox*>("Frame1")->title(), "Create PDF");
    EXPECT_EQ(w.findChild<QGroupBox*>("Frame2")->title(), "Convert PDF");
    ASSERT_NE(w.findChild<QWidget*>("Picture1"), nullptr);

    // Tab walks the buttons as they read, each named by its caption.
    QWidget* focus = button("Command3");
    focus->setFocus();
    for (const auto& expected : buttons) {
        QPushButton* b = button(expected.name);
        EXPECT_EQ(b->text(), expected.caption);
        if (expected.frame) {
            EXPECT_EQ(b->parentWidget()->objectName(), expected.frame);
        }
        EXPECT_EQ(focus, b) << "tab order at " << expected.name;
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(b);
        ASSERT_NE(a11y, nullptr);
        EXPECT_EQ(a11y->text(QAccessible::Name), expected.caption);
        EXPECT_EQ(a11y->role(), QAccessible::Button);
        EXPECT_FALSE(a11y->text(QAccessible::Description).isEmpty()) << expected.name;
        EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus);
        focus = focus->nextInFocusChain();
        while (focus && !(focus->focusPolicy() & Qt::TabFocus)) {
            focus = focus->nextInFocusChain();
        }
    }
}

TEST_F(Launcher, EachConverterButtonOpensTheConverterWithItsFormatOverTheSavedOne) {
    frmMain& w = open();
    // The converter last ran with PNG; each button's format still wins.
    convert::writeSetupIni(settings + "/setup.ini", dir.path() + "/out", 6);
    const struct {
        const char* name;
        int position;
        const char* firstRow;
    } cases[] = {{"Command4", 2, "First Page to Convert"},
                 {"Command5", 0, "First Page to Convert"},
                 {"Command6", 3, "First Page to Convert"},
                 {"Command7", 8, "First Page to Convert"},
                 {"Command8", 9, "First Page to Convert"}};
    for (const auto& c : cases) {
        click(c.name);
        convert::frmConverter* converter = w.converter();
        ASSERT_NE(converter, nullptr) << c.name;
        EXPECT_FALSE(w.isVisible()) << c.name;
        EXPECT_TRUE(converter->isVisible());
        EXPECT_EQ(converter->findChild<QComboBox*>("cmbOF")->currentIndex(), c.position);
        EXPECT_EQ(converter->settings().format(), convert::formatAt(c.position));
        EXPECT_EQ(platform::SharedDialogs().owner(), converter);

        // Leaving the converter brings the launcher back and keeps the format for next time.
        converter->close();
        QApplication::processEvents();
        EXPECT_TRUE(w.isVisible()) << c.name;
        EXPECT_EQ(convert::readSetupIni(settings + "/setup.ini").formatIndex, c.position);
        convert::writeSetupIni(settings + "/setup.ini", dir.path() + "/out", 6);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(w.converter(), nullptr) << "a closed converter is gone";
    }
}

TEST_F(Launcher, EnterPressesTheFocusedButtonAsSpaceDoes) {
    frmMain& w = open();
    QPushButton* images = button("Command6");
    images->setFocus();
    QTest::keyClick(images, Qt::Key_Return);
    QApplication::processEvents();
    ASSERT_NE(w.converter(), nullptr);
    EXPECT_EQ(w.converter()->findChild<QComboBox*>("cmbOF")->currentIndex(), 3);
}

TEST_F(Launcher, IgnoresButtonsWhileADialogIsUpAndDoubleClicks) {
    frmMain& w = open();
    // A screen reader can press a button behind a modal dialog: nothing happens then.
    QDialog modal(&w);
    modal.setModal(true);
    modal.show();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::activeModalWidget(), &modal);
    for (const char* name : {"Command1", "Command3", "Command5", "Label1"}) {
        click(name);
    }
    EXPECT_EQ(w.converter(), nullptr);
    EXPECT_TRUE(dialogs.opens.isEmpty());
    EXPECT_TRUE(processes.detached.isEmpty());
    EXPECT_TRUE(opened.isEmpty());
    modal.close();
    QApplication::processEvents();

    // Two quick clicks make one converter window.
    button("Command5")->click();
    button("Command5")->click();
    QApplication::processEvents();
    int converters = 0;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        converters += window->isVisible() && qobject_cast<convert::frmConverter*>(window);
    }
    EXPECT_EQ(converters, 1);
}

TEST_F(Launcher, StartsTheImageProgramMinimizedAndOpensTheHelpPage) {
    frmMain& w = open();
    click("Command3");
    ASSERT_EQ(processes.detached.size(), 1);
    EXPECT_EQ(processes.detached[0], app + "/lumaimg");
    EXPECT_EQ(processes.windows[0], platform::StartWindow::MinimizedFocused);
    EXPECT_TRUE(w.isVisible()) << "the launcher stays open";

    click("Label1");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], ProductPage());
    EXPECT_TRUE(QFile::exists(opened[0].toLocalFile())) << opened[0].toString().toStdString();
    EXPECT_TRUE(prompts.messages.isEmpty()) << "nothing is reported";

    // The host's start: a missing program starts nothing and says nothing.
    EXPECT_FALSE(platform::Processes::system().startDetached(dir.path() + "/lumaimg",
                                                             platform::StartWindow::Normal));

    // The started program shows its first window minimized, and passes no request on.
    qputenv("LUMADOC_START_WINDOW", "minimized");
    QWidget started;
    platform::ShowAsStarted(&started);
    EXPECT_TRUE(started.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(qEnvironmentVariableIsSet("LUMADOC_START_WINDOW"));
    QWidget normal;
    platform::ShowAsStarted(&normal);
    EXPECT_FALSE(normal.windowState() & Qt::WindowMinimized);
}

TEST_F(Launcher, CreatePdfFromFileHandsTheChosenDocumentToThePdfPrinter) {
    testing_support::FakeSpooler spooler;
    spooler.addPrinter("Office");
    spooler.addPrinter("vxPDF");
    spooler.defaultPrinter = "Office";
    QStringList printed;
    std::function<void()> printReturned;
    print2pdf::DocumentPrinter printer(spooler,
                                       [&](const QString& path, std::function<void()> returned) {
                                           printed << path;
                                           printReturned = std::move(returned);
                                           return true;
                                       });
    printerForNextLauncher = &printer;
    frmMain& w = open();

    // Cancelled: nothing printed, the default untouched.
    click("Command1");
    ASSERT_EQ(dialogs.opens.size(), 1);
    EXPECT_EQ(dialogs.opens[0].owner, &w);
    EXPECT_EQ(dialogs.opens[0].request.title, "Create PDF from File");
    EXPECT_EQ(dialogs.opens[0].request.nameFilters,
              (QStringList{"Word Files(*.doc) (*.doc)", "Excel Files(*.xls) (*.xls)",
                           "PowerPoint Files(*.ppt) (*.ppt)", "TEXT Files(*.txt) (*.txt)",
                           "All Printable Files(*.*) (*)"}));
    EXPECT_TRUE(printed.isEmpty());
    EXPECT_TRUE(spooler.callsTo("SetDefaultPrinterA").empty());
    EXPECT_EQ(spooler.defaultPrinter, "Office");

    // Chosen: printed with the PDF printer as the default, which is given back afterwards.
    const QString document = dir.path() + "/Brief an Zoë \"Entwurf\".txt";
    QFile(document).open(QIODevice::WriteOnly);
    dialogs.openAnswer = document;
    click("Command1");
    EXPECT_EQ(printed, QStringList{document});
    EXPECT_EQ(spooler.defaultPrinter, "vxPDF");
    EXPECT_TRUE(platform::SharedDialogs().FileName().isEmpty());
    EXPECT_TRUE(w.printer().isHandingOver());
    ASSERT_TRUE(printReturned);
    printReturned();
    EXPECT_FALSE(w.printer().isHandingOver());
    EXPECT_EQ(spooler.defaultPrinter, "Office");
    EXPECT_TRUE(prompts.messages.isEmpty()) << "nothing is reported";
}

// The real print system, as root: the chosen text file comes out of the PDF printer.
TEST_F(Launcher, CreatePdfFromFileMakesAPdfThroughTheRealPrinter) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "printing through CUPS is tested as root only: the test creates a "
                        "print queue and changes the default printer";
    }
    testing_support::CupsPdfPrinter pdfPrinter;
    const QString missing = pdfPrinter.whatIsMissing();
    ASSERT_TRUE(missing.isEmpty())
        << missing.toStdString() << ": run `make printer` as root to set up the PDF printer";
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
    testing_support::OtherDefaultQueue other;
    ASSERT_TRUE(other.ready());

    const QString document = dir.path() + "/Notizen für März.txt";
    QFile text(document);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    for (int line = 1; line <= 80; ++line) {
        text.write(QByteArray("Line ") + QByteArray::number(line) + " of the notes\n");
    }
    text.close();
    dialogs.openAnswer = document;
    const int before = testing_support::CupsPdfPrinter::lastJobId();
    frmMain& w = open();
    click("Command1");
    EXPECT_EQ(testing_support::lpstatDefault(), "vxPDF");
    w.printer().waitForHandOver();
    EXPECT_EQ(testing_support::lpstatDefault(), other.name()) << "the previous default is back";

    QString failure;
    const QString pdf = pdfPrinter.waitForPdf(before, &failure);
    ASSERT_FALSE(pdf.isEmpty()) << failure.toStdString();
    // 80 lines of text fill two pages; printed text comes out in fonts whose text does not
    // extract, so the pages are checked for ink.
    EXPECT_EQ(testing_support::pdfPageCount(pdf), 2);
    EXPECT_TRUE(testing_support::pdfPageHasInk(pdf, 1));
    QFile::remove(pdf);
}

TEST_F(Launcher, ClosingItWithTheConverterOpenEndsTheApplication) {
    frmMain& w = open();
    click("Command6");
    QPointer<convert::frmConverter> converter = w.converter();
    ASSERT_TRUE(converter && converter->isVisible());
    // A second start asks for the front: the converter stands in the launcher's place.
    w.bringToFront();
    EXPECT_TRUE(converter->isVisible());
    EXPECT_FALSE(w.isVisible());

    QTimer::singleShot(0, &w, [&w] { w.close(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        ADD_FAILURE() << "the application did not end";
        QCoreApplication::exit(1);
    });
    watchdog.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(!converter || !converter->isVisible());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(processes.ended, QStringList{platform::AppFolder() + "/pro"});
    EXPECT_FALSE(SkinH_Attached());
}

TEST_F(Launcher, TheSkinIsReadableInBothSchemesAndDetachGivesTheOldLookBack) {
    SkinH_Detach();
    const QString styleBefore = QApplication::style()->name();
    const QColor windowBefore = QApplication::palette().color(QPalette::Window);
    for (const ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
        const QPalette p = SkinPalette(scheme);
        for (const auto& [fg, bg] : {std::pair{QPalette::WindowText, QPalette::Window},
                                     std::pair{QPalette::Text, QPalette::Base},
                                     std::pair{QPalette::ButtonText, QPalette::Button},
                                     std::pair{QPalette::HighlightedText, QPalette::Highlight},
                                     std::pair{QPalette::Link, QPalette::Window}}) {
            EXPECT_GE(contrast(p.color(fg), p.color(bg)), 4.5)
                << (scheme == ColorScheme::Dark ? "dark " : "light ") << fg << " on " << bg;
        }
        EXPECT_GE(contrast(p.color(QPalette::Inactive, QPalette::HighlightedText),
                           p.color(QPalette::Inactive, QPalette::Highlight)),
                  4.5)
            << "a selection while a dialog is up";
        EXPECT_GE(contrast(p.color(QPalette::Disabled, QPalette::ButtonText),
                           p.color(QPalette::Disabled, QPalette::Button)),
                  2.5);
    }
    EXPECT_LT(SkinPalette(ColorScheme::Dark).color(QPalette::Window).lightness(), 60);
    EXPECT_GT(SkinPalette(ColorScheme::Light).color(QPalette::Window).lightness(), 200);

    qputenv("LUMADOC_COLOR_SCHEME", "dark");
    EXPECT_EQ(DesktopColorScheme(), ColorScheme::Dark);
    qputenv("LUMADOC_COLOR_SCHEME", "Light");
    EXPECT_EQ(DesktopColorScheme(), ColorScheme::Light);
    qunsetenv("LUMADOC_COLOR_SCHEME");

    QWidget window;
    SkinH_Attach(ColorScheme::Dark);
    SkinH_Aero(&window);
    SkinH_Aero_Adjust(220, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
              SkinPalette(ColorScheme::Dark).color(QPalette::Window));
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    const QColor tinted = window.palette().color(QPalette::Window);
    EXPECT_NE(tinted, SkinPalette(ColorScheme::Dark).color(QPalette::Window));
    EXPECT_EQ(tinted.alpha(), 255) << "windows stay opaque";
    SkinH_Aero_Adjust(255, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(window.palette().color(QPalette::Window),
              SkinPalette(ColorScheme::Dark).color(QPalette::Window));
    SkinH_Aero_Adjust(220, 0, 0, 0, 0, 200, 40, 40, 0);
    EXPECT_EQ(SkinH_AccentColor(), QColor(200, 40, 40));

    SkinH_Detach();
    EXPECT_FALSE(SkinH_Attached());
    EXPECT_EQ(QApplication::style()->name(), styleBefore);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), windowBefore);
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    SkinH_Aero_Adjust(220, 0, 0, 0, 0, 0, 0, 0, 0);
}

// The real program, twice: the second start ends at once, without a window, and the first
// goes on.
TEST(LauncherProgram, ASecondStartEndsSilentlyAndTheFirstGoesOn) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(app + "/lumadoc", {});
    ASSERT_TRUE(first.waitForStarted());
    for (int i = 0; i < 200 && !QFile::exists(runtime.path() + "/lumadoc.socket"); ++i) {
        QTest::qWait(25);
    }
    ASSERT_TRUE(QFile::exists(runtime.path() + "/lumadoc.socket"));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(app + "/lumadoc", {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running) << "the first instance goes on";
    first.terminate();
    first.waitForFinished(5000);
}

// Pictures of the launcher and of the converter with a few files queued, in both schemes.
TEST_F(Launcher, PicturesForTheReadme) {
    QCursor::setPos(3000, 3000); // away from the windows: no button shows its hover look
    for (const ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
        qputenv("LUMADOC_COLOR_SCHEME", scheme == ColorScheme::Dark ? "dark" : "light");
        frmMain& w = open();
        const QString suffix = scheme == ColorScheme::Dark ? "-dark" : "";
        EXPECT_TRUE(w.grab().save(QStringLiteral(LUMADOC_BUILD_DIR "/launcher") + suffix + ".png"));
        click("Command8");
        convert::frmConverter* converter = w.converter();
        ASSERT_NE(converter, nullptr);
        // Short, plain paths read better in the picture than the test's temporary ones.
        QList<QUrl> files;
        for (const char* name : {"Annual report 2025.pdf", "tracemonkey.pdf", "Rechnung März.pdf",
                                 "Scans/scan1.pdf", "Scans/scan2.pdf", "Scans/scan10.pdf"}) {
            files << QUrl::fromLocalFile(QStringLiteral("/home/user/Lumadoc sample/") +
                                         QString::fromUtf8(name));
        }
        QMimeData dropped;
        dropped.setUrls(files);
        converter->LV_OLEDragDrop(&dropped);
        converter->findChild<QWidget*>("LV")->setFocus();
        converter->findChild<QLineEdit*>("txtPath")->setText("/home/user/Documents/Lumadoc");
        QApplication::processEvents();
        const QImage picture = converter->grab().toImage();
        EXPECT_EQ(picture.size(), QSize(720, 489) * converter->devicePixelRatio());
        EXPECT_TRUE(
            picture.save(QStringLiteral(LUMADOC_BUILD_DIR "/converter-window") + suffix + ".png"));
        // The settings dialog, opened with Ctrl+, as a user does, then left with Escape.
        QTimer::singleShot(0, converter, [suffix] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            EXPECT_TRUE(dialog->grab().save(QStringLiteral(LUMADOC_BUILD_DIR "/settings-dialog") +
                                            suffix + ".png"));
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QTest::keyClick(converter, Qt::Key_Comma, Qt::ControlModifier);
        converter->close();
        launcher.reset();
        SkinH_Detach();
    }
    qunsetenv("LUMADOC_COLOR_SCHEME");
}

// Pictures of the image window with a few photos listed and one selected, in both schemes.
TEST_F(Launcher, ImageWindowPicturesForTheReadme) {
    QCursor::setPos(3000, 3000);
    // A short, plain folder reads better in the picture than the test's temporary one.
    const QString photos = QDir::tempPath() + "/Holiday 2026";
    QDir().mkpath(photos);
    const auto cleanUp = qScopeGuard([photos] { QDir(photos).removeRecursively(); });
    QStringList files;
    const QColor sky(96, 160, 220), sand(226, 196, 140), sea(40, 110, 170);
    for (const char* name : {"beach.jpg", "harbour.jpg", "lighthouse.png", "sunset.jpg"}) {
        QImage photo(480, 320, QImage::Format_RGB32);
        QPainter p(&photo);
        p.fillRect(photo.rect(), sky);
        p.fillRect(0, 170, 480, 70, sea);
        p.fillRect(0, 240, 480, 80, sand);
        p.setBrush(QColor(255, 214, 90));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(360, 80), 36, 36);
        p.end();
        files << photos + "/" + name;
        photo.save(files.last());
    }
    for (const ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
        SkinH_Attach(scheme);
        images2pdf::frmPrinting::Services services;
        services.settingsFolder = settings;
        images2pdf::frmPrinting window(services);
        SkinH_Aero(&window);
        QList<QUrl> urls;
        for (const QString& f : files) {
            urls << QUrl::fromLocalFile(f);
        }
        QMimeData dropped;
        dropped.setUrls(urls);
        window.List1_OLEDragDrop(&dropped);
        window.findChild<QLineEdit*>("txtPath")->setText("/home/user/Documents/Lumadoc");
        window.findChild<QLineEdit*>("txtTitle")->setText("Holiday 2026");
        window.findChild<QLineEdit*>("txtCreateFor")->setText("Ada Example");
        window.findChild<QLineEdit*>("txtSubject")->setText("Photos of the summer");
        window.findChild<QLineEdit*>("txtKeywords")->setText("holiday, sea");
        window.show();
        auto* list = window.findChild<QListView*>("List1");
        list->setCurrentIndex(list->model()->index(0, 0));
        list->setFocus();
        // The preview loads beside the window's events.
        QElapsedTimer waited;
        waited.start();
        while (window.findChild<QLabel*>("picPreview")->pixmap().isNull() &&
               waited.elapsed() < 5000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        const QString suffix = scheme == ColorScheme::Dark ? "-dark" : "";
        EXPECT_TRUE(window.grab().save(QStringLiteral(LUMADOC_BUILD_DIR "/image-window") + suffix +
                                       ".png"));
        window.close();
        SkinH_Detach();
    }
}

} // namespace
