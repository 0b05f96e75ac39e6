// The converter window offscreen: its controls, the queue's three ways in, the command channel,
// the run request and a real conversion through it. Dialogs, prompts, the desktop and the sound
// are answered by test backends; the settings files live in a temporary folder.
#include "convert/frm_converter.h"
#include "convert/frm_menu.h"

#include "pdf_fixture.h"
#include "recording_prompts.h"

#include "platform/app_folders.h"
#include "platform/dialog_backend.h"
#include "platform/processes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include "qt_printers.h"
#include <gtest/gtest.h>

using namespace convert;
using testing_support::RecordingPrompts;

namespace {

const QString app = QStringLiteral(LUMADOC_APP_DIR);
const QString corpus = QStringLiteral(LUMADOC_CORPUS);

// Answers the file and folder dialogs from a script: an empty answer cancels.
class AnsweringDialogs : public platform::DialogBackend {
public:
    AnsweringDialogs() { install(this); }
    ~AnsweringDialogs() override { install(nullptr); }

    std::optional<QString> openFile(QWidget*, const platform::FileDialogRequest& r) override {
        requests << r.title + " | " + r.nameFilters.join(";");
        return next();
    }
    std::optional<QString> saveFile(QWidget*, const platform::FileDialogRequest&) override {
        return next();
    }
    std::optional<QString> folder(QWidget*, const QString& title, const QString&) override {
        requests << title;
        return next();
    }
    std::optional<QColor> color(QWidget*, const QColor&, bool) override { return {}; }
    std::optional<QFont> font(QWidget*, const QFont&) override { return {}; }
    bool printer(QWidget*) override { return false; }
    bool printerProperties(QWidget*) override { return false; }

    QStringList answers, requests;

private:
    std::optional<QString> next() {
        const QString a = answers.isEmpty() ? QString() : answers.takeFirst();
        return a.isEmpty() ? std::nullopt : std::optional<QString>(a);
    }
};

// Starts programs as the host does and keeps the environment each one was given.
class EnvironmentRecorder : public platform::ForwardingProcesses {
public:
    qint64 startHidden(const QString& commandLine,
                       const platform::StartOptions& options = {}) override {
        started << commandLine;
        environments << options.environment;
        return ForwardingProcesses::startHidden(commandLine, options);
    }
    QStringList started;
    QList<QStringList> environments;
};

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        platform::SetAppFolder(app);
        in = dir.path() + "/in put";
        QDir().mkpath(in);
        settings = dir.path() + "/settings";
        QDir().mkpath(settings);
    }
    void TearDown() override {
        window.reset();
        platform::SetAppFolder(QString());
    }

    frmConverter& open(platform::Processes* processes = nullptr) {
        frmConverter::Services services;
        services.processes = processes;
        services.openUrl = [this](const QUrl& url) {
            opened << url.toLocalFile();
            return true;
        };
        services.playSound = [this](const QString& wav) { sounds << wav; };
        services.settingsFolder = settings;
        window = std::make_unique<frmConverter>(services);
        return *window;
    }
    template <class T> T* find(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString pdf(const QString& name, int pages = 2) {
        const QString path = in + "/" + name;
        testing_support::FixturePage page;
        page.content = testing_support::textLine("F1", 20, 72, 700, "Hello window");
        EXPECT_TRUE(testing_support::writeFixturePdf(
            path.toStdString(),
            std::vector<testing_support::FixturePage>(static_cast<std::size_t>(pages), page)));
        return path;
    }
    void drop(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths) {
            urls << QUrl::fromLocalFile(p);
        }
        data.setUrls(urls);
        QTreeView* lv = find<QTreeView>("LV");
        const QPoint at = lv->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(lv->viewport(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        QDropEvent event(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(lv->viewport(), &event);
        EXPECT_EQ(event.dropAction(), Qt::CopyAction);
    }
    // Waits, with events running, until the run that Convert requested is over.
    void waitForRun() {
        QElapsedTimer clock;
        clock.start();
        QTimer* timer1 = find<QTimer>("Timer1");
        while ((timer1->isActive() || window->isConverting()) && clock.elapsed() < 120000) {
            QTest::qWait(20);
        }
        ASSERT_FALSE(window->isConverting());
    }
    QString read(const QString& path) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }

    QTemporaryDir dir;
    QString in, settings;
    QStringList opened, sounds;
    RecordingPrompts prompts;
    AnsweringDialogs dialogs;
    std::unique_ptr<frmConverter> window;
};

TEST_F(Window, LoadsWithEveryControlAtItsPlace) {
    frmConverter& w = open();
    EXPECT_EQ(w.windowTitle(), "Lumadoc - PDF Converter");
    EXPECT_EQ(w.size(), QSize(720, 489));
    struct Place {
        const char* name;
        QRect rect;
    };
    for (const Place& p :
         {Place{"CmdToolsBar0", {0, 0, 95, 66}}, Place{"CmdToolsBar4", {376, 0, 95, 66}},
          Place{"CmdToolsBar5", {626, 0, 95, 66}}, Place{"LV", {14, 86, 455, 317}},
          Place{"picText", {156, 230, 163, 21}}, Place{"pb", {14, 426, 455, 21}},
          Place{"LV2", {488, 162, 221, 160}}, Place{"cmdBrowse", {656, 352, 51, 22}},
          Place{"cmdConvert", {488, 388, 219, 61}}}) {
        EXPECT_EQ(find<QWidget>(p.name)->geometry(), p.rect) << p.name;
    }
    const QStringList captions{"Add", "Add Folder", "Remove", "Convert", "Help", "Exit"};
    for (int i = 0; i < 6; ++i) {
        auto* b = w.findChild<QToolButton*>(QString("CmdToolsBar%1").arg(i));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), captions[i]);
        EXPECT_FALSE(b->icon().isNull());
    }
    EXPECT_EQ(find<QLabel>("lblText")->text(), "Drag & Drop Files Here");
    EXPECT_FALSE(find<QWidget>("picText")->isHidden());
    EXPECT_EQ(find<QLabel>("lblPB")->text(), "0%");
    EXPECT_EQ(find<QComboBox>("cmbOF")->count(), 10);
    EXPECT_EQ(find<QComboBox>("cmbOF")->currentIndex(), 0);
    EXPECT_EQ(find<QLineEdit>("txtPath")->text(), platform::DefaultOutputFolder());
    EXPECT_TRUE(find<QLineEdit>("txtAction")->isHidden());
    EXPECT_FALSE(find<QTimer>("Timer1")->isActive());
    EXPECT_FALSE(find<QTimer>("Timer2")->isActive());
    for (const char* hidden : {"imgPB", "imgToolbar0", "imgToolbar6", "txtValue", "cmbYesNo"}) {
        EXPECT_TRUE(find<QWidget>(hidden)->isHidden()) << hidden;
    }
    // Captions are the buddies of the controls they name, for screen readers.
    EXPECT_EQ(find<QLabel>("Label1")->buddy(), find<QWidget>("cmbOF"));
    EXPECT_EQ(find<QLabel>("Label2")->buddy(), find<QWidget>("LV2"));
    EXPECT_EQ(find<QLabel>("Label3")->buddy(), find<QWidget>("txtPath"));
    EXPECT_EQ(find<QWidget>("txtPath")->accessibleName(), "Output Path:");
}

TEST_F(Window, SetupIniCarriesTheFolderAndFormatAndExitWritesItBeforeTheLauncher) {
    QFile f(settings + "/setup.ini");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\"\"\r\n\"\"\r\n\"\"\r\n\"/data/Converted files\"\r\n\"9\"\r\n");
    f.close();
    frmConverter& w = open();
    EXPECT_EQ(find<QLineEdit>("txtPath")->text(), "/data/Converted files");
    EXPECT_EQ(w.settings().rowCount(), 5) << "the Flash rows";

    find<QComboBox>("cmbOF")->setCurrentIndex(2);
    find<QLineEdit>("txtPath")->setText("/data/other");
    QString atLauncher;
    QObject::connect(&w, &frmConverter::launcherRequested,
                     [&] { atLauncher = read(settings + "/setup.ini"); });
    w.show();
    find<QToolButton>("CmdToolsBar5")->click();
    QApplication::processEvents(); // clicks are answered first, then handled
    EXPECT_EQ(atLauncher, "\"\"\r\n\"\"\r\n\"\"\r\n\"/data/other\"\r\n\"2\"\r\n");
    EXPECT_FALSE(w.isVisible());

    // An empty fourth field gives the default folder again.
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"1\"\r\n");
    f.close();
    open();
    EXPECT_EQ(find<QLineEdit>("txtPath")->text(), platform::DefaultOutputFolder());
}

TEST_F(Window, ToolbarHintsMenuAndCommandChannel) {
    frmConverter& w = open();
    w.show();
    QLabel* hint = find<QLabel>("lblButton");
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(find<QToolButton>("CmdToolsBar2"), &enter);
    EXPECT_EQ(hint->text(), "[ Remove File(s) from List ]");
    QApplication::sendEvent(find<QToolButton>("CmdToolsBar0"), &enter);
    EXPECT_EQ(hint->text(), "[ Add a PDF File ]");
    QTest::mouseMove(&w, QPoint(300, 470));
    EXPECT_TRUE(hint->text().isEmpty());

    frmMenu* menu = w.findChild<frmMenu*>("frmMenu");
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* a : menu->menuRemove()->actions()) {
        entries << a->text();
    }
    EXPECT_EQ(entries, (QStringList{"Remove Selected", "Remove All"}));
    EXPECT_EQ(menu->inertMenus().size(), 4);

    // Commands compare exactly; the channel is emptied either way.
    QLineEdit* action = find<QLineEdit>("txtAction");
    w.sendCommand("menuconvert");
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_TRUE(action->text().isEmpty());
    w.sendCommand("menuConvert");
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "Please add a file");
    EXPECT_EQ(prompts.messages[0].title, "Add");
    EXPECT_EQ(prompts.messages[0].icon, platform::MessageIcon::Exclamation);
    EXPECT_FALSE(find<QTimer>("Timer1")->isActive());
    EXPECT_TRUE(action->text().isEmpty());
    w.sendCommand("A");
    ASSERT_EQ(prompts.messages.size(), 2);
    EXPECT_EQ(prompts.messages[1].text.count("\r\n"), 2) << "three lines";
    EXPECT_EQ(prompts.messages[1].title, "Lumadoc");
    w.sendCommand("menuHelp");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], app + "/help/index.html");
}

TEST_F(Window, QueueFillsByDialogFolderSearchAndDropAndEmptiesByHand) {
    frmConverter& w = open();
    w.show();
    w.activateWindow();
    QWidget* hintPanel = find<QWidget>("picText");
    const QString a = pdf("a.pdf");

    dialogs.answers = {a, QString()};
    w.imgAdd_Click();
    EXPECT_EQ(dialogs.requests.last(), "Open Files | PDF Files(*.pdf) (*.pdf)");
    EXPECT_EQ(w.focusWidget(), find<QWidget>("CmdToolsBar5")) << "focus on Exit";
    w.imgAdd_Click(); // cancelled: nothing changes
    EXPECT_EQ(w.queue().paths(), QStringList{a});
    EXPECT_TRUE(hintPanel->isHidden());

    const QString tree = in + "/tree";
    QDir().mkpath(tree + "/sub");
    for (const char* name : {"/A.PDF", "/sub/b.pdf", "/c.Pdf", "/notes.txt"}) {
        QFile::copy(a, tree + name);
    }
    dialogs.answers = {tree};
    w.AddPdfFolder();
    EXPECT_EQ(dialogs.requests.last(), "Please select a folder:");
    EXPECT_EQ(w.queue().count(), 4);
    EXPECT_EQ(w.queue().formats(), (QStringList{"PDF", "PDF", "PDF", "PDF"}));
    EXPECT_TRUE(w.lstAddFolder().isEmpty());
    EXPECT_EQ(find<QLabel>("lblText")->text(), "Drag & Drop Files Here");

    drop({a, in + "/scans/March", in + "/notes.txt"});
    EXPECT_EQ(w.queue().count(), 7) << "duplicates are kept";
    EXPECT_EQ(w.queue().formats().mid(4), (QStringList{"PDF", "RCH", "TXT"}));

    // Remove Selected takes the selected row only; Delete does the same from the keyboard.
    QTreeView* lv = find<QTreeView>("LV");
    lv->setCurrentIndex(w.queue().index(1, 0));
    w.sendCommand("RemoveSelected");
    EXPECT_EQ(w.queue().count(), 6);
    EXPECT_EQ(w.queue().paths()[0], a);
    EXPECT_EQ(w.queue().paths()[1], tree + "/c.Pdf");
    lv->setFocus();
    lv->setCurrentIndex(w.queue().index(0, 0));
    QTest::keyClick(lv, Qt::Key_Delete);
    EXPECT_EQ(w.queue().count(), 5);
    EXPECT_EQ(w.queue().paths().size(), w.queue().formats().size());

    w.findChild<frmMenu*>("frmMenu")->menuRemove()->actions()[1]->trigger();
    EXPECT_TRUE(w.queue().isEmpty());
    EXPECT_FALSE(hintPanel->isHidden());

    dialogs.answers = {QString()};
    w.AddPdfFolder(); // cancelled
    EXPECT_TRUE(w.queue().isEmpty());
    EXPECT_FALSE(hintPanel->isHidden());
}

TEST_F(Window, SettingsEditorsBrowseAndTheAnimation) {
    frmConverter& w = open();
    w.show();
    QComboBox* format = find<QComboBox>("cmbOF");
    format->setCurrentIndex(9);
    QTreeView* lv2 = find<QTreeView>("LV2");
    QLineEdit* text = find<QLineEdit>("txtValue");
    QComboBox* yesNo = find<QComboBox>("cmbYesNo");

    auto click = [&](int row) {
        const QRect r = lv2->visualRect(w.settings().index(row, 1));
        QTest::mouseClick(lv2->viewport(), Qt::LeftButton, {}, r.center());
    };
    click(3); // FPS
    ASSERT_FALSE(text->isHidden());
    EXPECT_TRUE(yesNo->isHidden());
    EXPECT_EQ(text->x(), 622);
    EXPECT_EQ(text->text(), "0.5");
    text->setText("12");
    EXPECT_EQ(w.settings().value(4), "10");
    EXPECT_EQ(text->text(), "12") << "the box keeps what was typed";
    click(4); // Play Button
    EXPECT_TRUE(text->isHidden());
    ASSERT_FALSE(yesNo->isHidden());
    EXPECT_EQ(yesNo->currentText(), "NO");
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(300, 470));
    EXPECT_TRUE(yesNo->isHidden()) << "a click on the background hides the editors";
    format->setCurrentIndex(2);
    EXPECT_EQ(w.settings().rowCount(), 3);

    QLineEdit* path = find<QLineEdit>("txtPath");
    dialogs.answers = {dir.path()};
    w.imgBrowse_Click();
    EXPECT_EQ(path->text(), dir.path());
    w.imgBrowse_Click(); // cancelled: back to the default, not the previous choice
    EXPECT_EQ(path->text(), platform::DefaultOutputFolder());

    // Three seconds of animation: one sweep, then half of the next.
    QProgressBar* bar = find<QProgressBar>("pb");
    QList<int> values;
    for (int tick = 0; tick < 30; ++tick) {
        w.Timer2_Timer();
        values << bar->value();
    }
    EXPECT_EQ(values[0], 5);
    EXPECT_EQ(values[18], 95);
    EXPECT_EQ(values[19], 100);
    EXPECT_EQ(values[20], 5);
    EXPECT_EQ(values[29], 50);
    EXPECT_EQ(w.animationCounter(), 50);
}

TEST_F(Window, ConvertsDroppedFilesAndListsTheOnesThatGaveNoOutput) {
    frmConverter& w = open();
    w.show();
    const QString out = dir.path() + "/out folder";
    find<QLineEdit>("txtPath")->setText(out);
    find<QComboBox>("cmbOF")->setCurrentIndex(6); // PNG
    QFile notPdf(in + "/notes.txt");
    ASSERT_TRUE(notPdf.open(QIODevice::WriteOnly));
    notPdf.write("plain text");
    notPdf.close();
    drop({pdf("first.pdf"), in + "/notes.txt", pdf("zweite Datei.pdf", 3)});

    QPushButton* convert = find<QPushButton>("cmdConvert");
    convert->click();
    convert->click(); // a second request before the tick starts no second run
    QApplication::processEvents();
    EXPECT_TRUE(find<QTimer>("Timer1")->isActive());
    waitForRun();
    EXPECT_EQ(QDir(out + "/first").entryList(QDir::Files).size(), 2);
    EXPECT_EQ(QDir(out + "/zweite Datei").entryList(QDir::Files).size(), 3);
    EXPECT_EQ(find<QLabel>("lblPB")->text(), "Done.");
    EXPECT_TRUE(w.queue().isEmpty());
    EXPECT_TRUE(convert->isEnabled());
    ASSERT_NE(w.run(), nullptr);
    EXPECT_EQ(w.run()->reports().size(), 3);
    EXPECT_EQ(opened, QStringList{out});
    EXPECT_EQ(sounds, QStringList{app + "/sound.wav"});

    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].title, "Lumadoc");
    EXPECT_EQ(prompts.messages[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(prompts.messages[0].text, "This file was not converted:\r\n\r\n"
                                        "notes.txt: it cannot be opened as a PDF file");
}

TEST_F(Window, ClosingDuringARunStopsAfterTheFileInHand) {
    frmConverter& w = open();
    w.show();
    find<QLineEdit>("txtPath")->setText(dir.path() + "/out");
    find<QComboBox>("cmbOF")->setCurrentIndex(1); // RTF
    drop({pdf("one.pdf", 20), pdf("two.pdf")});
    QSignalSpy launcher(&w, &frmConverter::launcherRequested);
    // Closed as soon as the first file shows progress.
    QObject::connect(find<QProgressBar>("pb"), &QProgressBar::valueChanged, &w, [&] {
        if (w.isConverting()) {
            w.close();
        }
    });
    find<QPushButton>("cmdConvert")->click();
    QApplication::processEvents();
    waitForRun();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(launcher.count(), 1);
    EXPECT_EQ(w.run()->reports().size(), 1);
    EXPECT_TRUE(QFileInfo::exists(dir.path() + "/out/one.rtf"));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/out/two.rtf"));
}

TEST_F(Window, TheSettingsDialogWritesTheSoundSwitchOnlyWhenItChanges) {
    frmConverter& w = open();
    w.show();
    auto answer = [&](bool soundOn, bool ok) {
        QTimer::singleShot(0, &w, [=] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->findChild<QCheckBox*>("chkSound")->setChecked(soundOn);
            ok ? dialog->accept() : dialog->reject();
        });
    };
    answer(true, true); // unchanged: no file
    w.sendCommand("menuOption");
    EXPECT_FALSE(QFileInfo::exists(settings + "/options.ini"));
    answer(false, false); // cancelled
    w.sendCommand("menuOption");
    EXPECT_FALSE(QFileInfo::exists(settings + "/options.ini"));
    answer(false, true);
    w.sendCommand("menuOption");
    EXPECT_EQ(read(settings + "/options.ini"), "1\r\n");
    EXPECT_TRUE(w.isVisible()) << "the program goes on";
}

// Text recognition, the dialog's second switch: on for a file of a version that knew only the
// sound switch, next to the sound switch in the Tab order and turned with Space, saved beside the
// sound switch, told to the next run's HTML tool and read again by the next window.
TEST_F(Window, TheSettingsDialogSwitchesTextRecognitionForTheNextRuns) {
    const QString options = settings + "/options.ini";
    {
        QFile old(options);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("1\r\n");
    }
    EnvironmentRecorder processes;
    frmConverter& w = open(&processes);
    w.show();
    bool wasOn = false;
    QTimer::singleShot(0, &w, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* box = dialog->findChild<QCheckBox*>("chkTextRecognition");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text().remove('&'), "Recognise text in scanned pages");
        wasOn = box->isChecked();
        auto* sound = dialog->findChild<QCheckBox*>("chkSound");
        EXPECT_FALSE(sound->isChecked());
        // Tab follows the focus chain: the box comes right after the sound switch.
        EXPECT_EQ(sound->nextInFocusChain(), box);
        EXPECT_TRUE(box->focusPolicy() & Qt::TabFocus);
        QTest::keyClick(box, Qt::Key_Space);
        EXPECT_FALSE(box->isChecked());
        dialog->accept();
    });
    w.sendCommand("menuOption");
    EXPECT_TRUE(wasOn) << "a file without the switch means on";
    EXPECT_EQ(read(options), "1\r\nTextRecognition=0\r\n");

    find<QLineEdit>("txtPath")->setText(dir.path() + "/out");
    find<QComboBox>("cmbOF")->setCurrentIndex(8); // HTML
    drop({pdf("scan.pdf")});
    find<QPushButton>("cmdConvert")->click();
    QApplication::processEvents();
    waitForRun();
    ASSERT_NE(w.run(), nullptr);
    EXPECT_TRUE(w.run()->allWritten());
    ASSERT_EQ(processes.started.size(), 1);
    EXPECT_TRUE(processes.started[0].contains("pdf2htm"));
    EXPECT_EQ(processes.environments[0], QStringList{"LUMADOC_OCR=0"});
    EXPECT_TRUE(sounds.isEmpty()) << "the sound switch is as it was";

    window.reset();
    frmConverter& again = open(&processes);
    again.show();
    QTimer::singleShot(0, &again, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* box = dialog->findChild<QCheckBox*>("chkTextRecognition");
        wasOn = box->isChecked();
        box->setChecked(true);
        dialog->accept();
    });
    again.sendCommand("menuOption");
    EXPECT_FALSE(wasOn) << "read back from options.ini";
    EXPECT_EQ(read(options), "1\r\nTextRecognition=1\r\n");
}

} // namespace
