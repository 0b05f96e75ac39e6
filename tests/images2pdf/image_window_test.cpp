// The image window offscreen: its controls and names, the list's ways in and its moves, the
// drop panel, Browse, the "Now" buttons, and an assembly started from it. Dialogs and messages
// are answered by test backends; the settings file lives in a temporary folder.
#include "images2pdf/frm_printing.h"
#include "images2pdf/image_list.h"

#include "platform/app_folders.h"
#include "platform/common_dialogs.h"
#include "platform/processes.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "qt_printers.h"
#include "recording_dialogs.h"
#include "recording_prompts.h"
#include <gtest/gtest.h>

using namespace images2pdf;

namespace {

QList<QUrl> urls(const QStringList& paths) {
    QList<QUrl> list;
    for (const QString& p : paths) {
        list += QUrl::fromLocalFile(p);
    }
    return list;
}

TEST(ImageListModel, TakesDroppedImagesByTheirLastLettersInTheirOrder) {
    ImageList list;
    EXPECT_EQ(list.addDropped(urls({"/in/a.JPG", "/in/b.tiff", "/in/c.txt", "/in/photojpg",
                                    "/in/folder.png/", "/in/a.JPG"})),
              5);
    EXPECT_EQ(list.paths(), QStringList({"/in/a.JPG", "/in/b.tiff", "/in/photojpg",
                                         "/in/folder.png", "/in/a.JPG"}));
    EXPECT_EQ(list.addDropped({QUrl("https://example.org/x.png")}), 0);
}

TEST(ImageListModel, MovesAndRemovesWithoutLosingEntries) {
    ImageList list;
    list.addAll({"a", "b", "c"});
    EXPECT_EQ(list.moveDown(2), 2); // the last stays
    EXPECT_EQ(list.moveUp(0), 0);   // the first stays
    EXPECT_EQ(list.moveDown(-1), -1);
    EXPECT_EQ(list.moveUp(-1), -1);
    EXPECT_EQ(list.paths(), QStringList({"a", "b", "c"}));
    EXPECT_EQ(list.moveDown(0), 1);
    EXPECT_EQ(list.paths(), QStringList({"b", "a", "c"}));
    EXPECT_EQ(list.moveUp(2), 1);
    EXPECT_EQ(list.paths(), QStringList({"b", "c", "a"}));
    list.remove(-1);
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(list.remove(2), 1);
    EXPECT_EQ(list.paths(), QStringList({"b", "c"}));
    list.clear();
    EXPECT_TRUE(list.isEmpty());
}

class ImageWindow : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetAppFolder(QStringLiteral(LUMADOC_APP_DIR));
        frmPrinting::Services services;
        services.openUrl = [this](const QUrl& url) {
            opened += url.toLocalFile();
            return true;
        };
        services.beep = [] {};
        services.settingsFolder = dir.path();
        w = std::make_unique<frmPrinting>(services);
        w->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        w.reset();
        platform::SetAppFolder({});
    }

    template <class T> T* child(const char* name) {
        T* found = w->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void press(const char* name) { QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton); }
    QString image(const QString& name, QColor color) {
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(color);
        const QString path = dir.filePath(name);
        picture.save(path);
        return path;
    }
    void drop(const QStringList& paths, const char* on = "List1") {
        QMimeData data;
        data.setUrls(urls(paths));
        if (QString(on) == "picText") {
            w->picText_OLEDragDrop(&data);
        } else {
            w->List1_OLEDragDrop(&data);
        }
    }
    void selectRow(int row) {
        auto* view = child<QListView>("List1");
        view->setCurrentIndex(view->model()->index(row, 0));
    }

    QTemporaryDir dir;
    std::unique_ptr<frmPrinting> w;
    QStringList opened;
    testing_support::RecordingPrompts prompts;
    testing_support::RecordingDialogs dialogs;
};

TEST_F(ImageWindow, ShowsEveryControlNamedForKeyboardAndScreenReaders) {
    EXPECT_EQ(w->windowTitle(), "Create PDF From Images");
    const struct {
        const char* name;
        const char* caption;
    } buttons[] = {
        {"CmdToolsBar0", "Add"},   {"CmdToolsBar1", "Add Folder"}, {"CmdToolsBar2", "Remove"},
        {"CmdToolsBar3", "Clean"}, {"CmdToolsBar4", "Down"},       {"CmdToolsBar5", "Exit"},
        {"CmdToolsBar6", "Up"},    {"cmdBrowse", "Browse"},        {"Command3", "Create PDF Now"}};
    for (const auto& b : buttons) {
        QPushButton* button = child<QPushButton>(b.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), b.caption);
        EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus) << b.name;
    }
    // Edits are named by their caption labels.
    const struct {
        const char* name;
        const char* label;
        const char* text;
    } edits[] = {{"txtTitle", "Document Title", "New Title"},
                 {"txtCreateFor", "Author", "Author Name"},
                 {"txtSubject", "Subject", "New Subject"},
                 {"txtKeywords", "Keywords", "Quillfox"},
                 {"txtCreationDate", "Creation Date", nullptr},
                 {"txtModifyDate", "Modify Date", nullptr},
                 {"txtPath", "Output Path", nullptr}};
    for (const auto& e : edits) {
        QLineEdit* edit = child<QLineEdit>(e.name);
        ASSERT_NE(edit, nullptr);
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(edit);
        EXPECT_EQ(a11y->text(QAccessible::Name), e.label);
        if (e.text) {
            EXPECT_EQ(edit->text(), e.text);
        }
    }
    EXPECT_TRUE(child<QLineEdit>("txtCreationDate")->text().startsWith("D:"));
    EXPECT_EQ(child<QLabel>("lblText")->text(), "Drag & Drop Files Here");
    EXPECT_TRUE(child<QWidget>("picText")->isVisible());
    EXPECT_EQ(child<QLabel>("lblPageNum")->text(), "Page Number of Selected File: 0");
    EXPECT_EQ(platform::SharedDialogs().owner(), w.get());
}

TEST_F(ImageWindow, DropsFillTheListAndTheToolbarOrdersIt) {
    drop({dir.filePath("a.JPG"), dir.filePath("b.tiff"), dir.filePath("c.txt")}, "picText");
    EXPECT_EQ(w->list().paths(), QStringList({dir.filePath("a.JPG"), dir.filePath("b.tiff")}));
    EXPECT_FALSE(child<QWidget>("picText")->isVisible());
    drop({dir.filePath("a.JPG")});
    ASSERT_EQ(w->list().count(), 3);

    // Nothing selected: Down and Remove change nothing.
    press("CmdToolsBar4");
    press("CmdToolsBar2");
    EXPECT_EQ(w->list().count(), 3);

    selectRow(2);
    EXPECT_EQ(child<QLabel>("lblPageNum")->text(), "Page Number of Selected File: 3");
    press("CmdToolsBar4"); // Down on the last
    EXPECT_EQ(w->listIndex(), 2);
    press("CmdToolsBar6"); // Up
    EXPECT_EQ(w->listIndex(), 1);
    EXPECT_EQ(w->list().paths().value(2), dir.filePath("b.tiff"));
    EXPECT_EQ(child<QLabel>("lblPageNum")->text(), "Page Number of Selected File: 2");

    // The keyboard: Ctrl+Down moves, Delete removes.
    auto* view = child<QListView>("List1");
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(w->listIndex(), 2);
    EXPECT_EQ(w->list().paths().value(2), dir.filePath("a.JPG"));
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(w->list().count(), 2);

    press("CmdToolsBar3"); // Clean
    EXPECT_TRUE(w->list().isEmpty());
    EXPECT_TRUE(child<QWidget>("picText")->isVisible());
}

TEST_F(ImageWindow, AddAndAddFolderUseTheDialogsAndFolderSearchInNaturalOrder) {
    const QString one = image("one.png", Qt::red);
    dialogs.openAnswer = one;
    press("CmdToolsBar0");
    ASSERT_EQ(dialogs.opens.size(), 1);
    EXPECT_EQ(dialogs.opens[0].request.title, "Open Files");
    EXPECT_EQ(w->list().paths(), QStringList{one});
    EXPECT_TRUE(child<QPushButton>("CmdToolsBar6")->hasFocus());

    QDir(dir.path()).mkpath("scans/sub");
    for (const char* name :
         {"scans/scan10.jpg", "scans/scan2.jpg", "scans/notes.txt", "scans/sub/inner.png"}) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
    }
    dialogs.folderAnswer = dir.filePath("scans");
    press("CmdToolsBar1");
    EXPECT_EQ(dialogs.folders.value(0).title, "Please select a folder:");
    EXPECT_EQ(w->list().paths(),
              QStringList({one, dir.filePath("scans/scan2.jpg"), dir.filePath("scans/scan10.jpg"),
                           dir.filePath("scans/sub/inner.png")}));
    EXPECT_EQ(child<QLabel>("lblText")->text(), "Drag & Drop Files Here");

    // Browse: a chosen folder, then a cancelled dialog goes back to the default folder.
    dialogs.folderAnswer = dir.filePath("scans");
    press("cmdBrowse");
    EXPECT_EQ(child<QLineEdit>("txtPath")->text(), dir.filePath("scans"));
    dialogs.folderAnswer.reset();
    press("cmdBrowse");
    EXPECT_EQ(child<QLineEdit>("txtPath")->text(), platform::DefaultOutputFolder());
}

TEST_F(ImageWindow, NowButtonsAndAnEmptyListsWarning) {
    auto* created = child<QLineEdit>("txtCreationDate");
    created->setText("typed");
    press("Command1");
    EXPECT_TRUE(created->text().startsWith("D:")) << created->text().toStdString();
    EXPECT_EQ(created->text().size(), 22);
    press("Command3");
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "Please add a file");
}

TEST_F(ImageWindow, CreatesThePdfAndKeepsTheFieldsForNextTime) {
    drop({image("p1.png", Qt::red), image("p2.jpg", Qt::blue)});
    child<QLineEdit>("txtTitle")->setText("My Album");
    const QString out = dir.filePath("out") + "/";
    child<QLineEdit>("txtPath")->setText(out);
    press("Command3");
    ASSERT_TRUE(w->lastResult().written()) << w->lastResult().reason.toStdString();
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("out/My Album.pdf")));
    EXPECT_EQ(child<QLineEdit>("txtPath")->text(), dir.filePath("out"));
    EXPECT_EQ(child<QLabel>("lblPB")->text(), "Done.");
    EXPECT_TRUE(child<QPushButton>("Command3")->isEnabled());
    EXPECT_EQ(opened, QStringList{dir.filePath("out")});

    // The next window shows the saved title.
    frmPrinting::Services services;
    services.settingsFolder = dir.path();
    frmPrinting next(services);
    EXPECT_EQ(next.findChild<QLineEdit*>("txtTitle")->text(), "My Album");
}

// Processes of the host that let the test act while pdftk runs, as a user can.
class ActingProcesses : public platform::ForwardingProcesses {
public:
    int waitForEnd(qint64 pid) override {
        if (whileWaiting) {
            whileWaiting();
            whileWaiting = nullptr;
        }
        return ForwardingProcesses::waitForEnd(pid);
    }
    std::function<void()> whileWaiting;
};

TEST_F(ImageWindow, DropsDuringARunWaitForTheNextOneAndTheOutputFolderStaysPut) {
    ActingProcesses processes;
    frmPrinting::Services services;
    services.openUrl = [](const QUrl&) { return true; };
    services.beep = [] {};
    services.settingsFolder = dir.path();
    services.processes = &processes;
    frmPrinting window(services);
    window.show();
    QMimeData first;
    first.setUrls(urls({image("p1.png", Qt::red), image("p2.png", Qt::blue)}));
    window.List1_OLEDragDrop(&first);
    const QString out = dir.filePath("out");
    window.findChild<QLineEdit*>("txtPath")->setText(out);
    bool browseEnabled = true;
    bool pathEditable = true;
    processes.whileWaiting = [&] {
        // Enough files that the list's storage moves.
        QStringList many;
        for (int i = 0; i < 200; ++i) {
            many << dir.filePath(QStringLiteral("late%1.png").arg(i));
        }
        QMimeData late;
        late.setUrls(urls(many));
        window.List1_OLEDragDrop(&late);
        browseEnabled = window.findChild<QPushButton*>("cmdBrowse")->isEnabled();
        pathEditable = !window.findChild<QLineEdit*>("txtPath")->isReadOnly();
    };
    window.Command3_Click();
    ASSERT_TRUE(window.lastResult().written()) << window.lastResult().reason.toStdString();
    EXPECT_EQ(window.list().count(), 202);
    EXPECT_FALSE(browseEnabled);
    EXPECT_FALSE(pathEditable);
    EXPECT_TRUE(window.findChild<QPushButton*>("cmdBrowse")->isEnabled());
    EXPECT_FALSE(window.findChild<QLineEdit*>("txtPath")->isReadOnly());
    QProcess info;
    info.start("pdfinfo", {out + "/New Title.pdf"});
    info.waitForFinished();
    EXPECT_TRUE(info.readAllStandardOutput().contains("Pages:           2"));
}

} // namespace
