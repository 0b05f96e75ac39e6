#include "platform/common_dialogs.h"

#include "platform/app_folders.h"
#include "platform/dialog_backend.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include "qt_printers.h"
#include "recording_dialogs.h"
#include <gtest/gtest.h>

using namespace platform;
using testing_support::RecordingDialogs;

namespace {

const QString kConverterFilter = QStringLiteral("PDF Files(*.pdf)|*.pdf");
const QString kLauncherFilter =
    QStringLiteral("Word Files(*.doc)|*.doc|Excel Files(*.xls)|*.xls|PowerPoint "
                   "Files(*.ppt)|*.ppt|TEXT Files(*.txt)|*.txt|All Printable Files(*.*)|*.*");

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

// Every test gets a fresh application folder and a recording backend.
class CommonDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(work.isValid());
        appFolder = work.path() + "/app";
        docs = work.path() + "/docs";
        ASSERT_TRUE(QDir().mkpath(appFolder));
        ASSERT_TRUE(QDir().mkpath(docs + "/more"));
        SetAppFolder(appFolder);
        dialogs.Init(&owner);
    }
    void TearDown() override { SetAppFolder(QString()); }

    QTemporaryDir work;
    QString appFolder;
    QString docs;
    QWidget owner;
    RecordingDialogs backend;
    CCommonDialogs dialogs;
};

TEST(NameFilters, FromPipeLists) {
    struct Case {
        QString pipeList;
        QStringList expected;
    };
    const Case cases[] = {
        {kConverterFilter, {"PDF Files(*.pdf) (*.pdf)"}},
        {"*.*|*.*", {"*.* (*)"}},
        {"Pictures|*.jpg;*.JPEG; *.png", {"Pictures (*.jpg *.JPEG *.png)"}},
        {"", {}},
        {"Only a label", {}},
        {"A|*.a|B", {"A (*.a)"}},
        {"A|*.a|", {"A (*.a)"}},
        {"Empty|;|B|*.b", {"B (*.b)"}},
        {"|*.a", {"*.a (*.a)"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NameFiltersFromPipeList(c.pipeList), c.expected) << c.pipeList.toStdString();
    }
}

TEST_F(CommonDialogs, FiltersOfTheWindowsReachTheDialogInOrder) {
    backend.openAnswer = docs + "/a.doc";
    dialogs.setFilter(kConverterFilter);
    dialogs.ShowOpen();
    dialogs.setFilter(kLauncherFilter);
    dialogs.ShowOpen();
    ASSERT_EQ(backend.opens.size(), 2);

    const FileDialogRequest& converter = backend.opens[0].request;
    EXPECT_EQ(converter.nameFilters, QStringList{"PDF Files(*.pdf) (*.pdf)"});
    EXPECT_EQ(converter.selectedFilter, converter.nameFilters.value(0));

    const FileDialogRequest& launcher = backend.opens[1].request;
    EXPECT_EQ(launcher.nameFilters,
              (QStringList{"Word Files(*.doc) (*.doc)", "Excel Files(*.xls) (*.xls)",
                           "PowerPoint Files(*.ppt) (*.ppt)", "TEXT Files(*.txt) (*.txt)",
                           "All Printable Files(*.*) (*)"}));
    EXPECT_EQ(launcher.selectedFilter, "Word Files(*.doc) (*.doc)");
}

TEST_F(CommonDialogs, ConfirmedOpenGivesThePathItsFolderAndName) {
    dialogs.setTitle("Open Files");
    dialogs.setFileName("draft.pdf");
    dialogs.setDefExt(".pdf");
    backend.openAnswer = docs + "/more/report.v2.pdf";

    ASSERT_TRUE(dialogs.ShowOpen());
    EXPECT_EQ(dialogs.FileName(), docs + "/more/report.v2.pdf");
    EXPECT_EQ(dialogs.Path(), docs + "/more");
    EXPECT_EQ(dialogs.FileTitle(), "report.v2.pdf");

    ASSERT_EQ(backend.opens.size(), 1);
    const RecordingDialogs::FileCall& call = backend.opens[0];
    EXPECT_EQ(call.owner, &owner);
    EXPECT_EQ(call.request.title, "Open Files");
    EXPECT_EQ(call.request.initialName, "draft.pdf");
    EXPECT_EQ(call.request.defaultSuffix, "pdf");
    EXPECT_TRUE(call.request.mustExist);
    EXPECT_TRUE(call.request.nameFilters.isEmpty()) << "no filter shows every file";

    // A relative answer is taken in the start folder; a file in the root keeps a usable folder.
    backend.openAnswer = "rel.pdf";
    ASSERT_TRUE(dialogs.ShowOpen());
    EXPECT_EQ(dialogs.FileName(), docs + "/more/rel.pdf");
    backend.openAnswer = "/top.pdf";
    ASSERT_TRUE(dialogs.ShowOpen());
    EXPECT_EQ(dialogs.Path(), "/");
    EXPECT_EQ(dialogs.FileTitle(), "top.pdf");
}

TEST_F(CommonDialogs, EveryCancelledDialogChangesNothing) {
    dialogs.setFileTitle("t.pdf");
    dialogs.setPath("/nowhere/at/all");
    dialogs.setFilter(kConverterFilter);
    dialogs.setFileName("/nowhere/at/all/t.pdf");
    dialogs.setColor(0x00336699);
    dialogs.setTitle("Open Files");
    dialogs.setDefExt("pdf");
    dialogs.setFontName("DejaVu Sans");
    dialogs.setFontSize(12);
    dialogs.setFontBold(true);
    dialogs.setFontItalic(true);
    dialogs.setFontUnderline(true);
    const QString folderBefore = OpenDialogFolder();
    auto snapshot = [&] {
        return QStringList{dialogs.FileTitle(),
                           dialogs.Path(),
                           dialogs.Filter(),
                           dialogs.FileName(),
                           QString::number(dialogs.Color()),
                           dialogs.Title(),
                           dialogs.DefExt(),
                           dialogs.FontName(),
                           QString::number(dialogs.FontSize()),
                           QString::number(dialogs.FontBold()),
                           QString::number(dialogs.FontItalic()),
                           QString::number(dialogs.FontUnderline())};
    };
    const QStringList before = snapshot();

    EXPECT_FALSE(dialogs.ShowOpen());
    EXPECT_FALSE(dialogs.ShowSave()); // Path names no folder: the save starts elsewhere
    EXPECT_FALSE(dialogs.ShowFolder());
    EXPECT_FALSE(dialogs.ShowColor(true));
    EXPECT_FALSE(dialogs.ShowFont());
    EXPECT_FALSE(dialogs.ShowPrinter());
    EXPECT_FALSE(dialogs.ShowPrinterProperties());

    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(OpenDialogFolder(), folderBefore);
    EXPECT_EQ(backend.opens.size() + backend.saves.size() + backend.folders.size(), 3);
    EXPECT_EQ(backend.printerCalls + backend.printerPropertiesCalls, 2);
}

TEST_F(CommonDialogs, NextOpenStartsWhereTheLastConfirmedOneEnded) {
    const QString cwd = QDir::currentPath();
    backend.openAnswer = docs + "/more/a.pdf";
    ASSERT_TRUE(dialogs.ShowOpen());

    // The next open dialog, of this object or of the one the next window makes.
    backend.openAnswer.reset();
    EXPECT_FALSE(dialogs.ShowOpen());
    EXPECT_FALSE(ReplaceSharedDialogs(&owner).ShowOpen());
    ASSERT_EQ(backend.opens.size(), 3);
    EXPECT_EQ(backend.opens[1].request.startFolder, docs + "/more");
    EXPECT_EQ(backend.opens[2].request.startFolder, docs + "/more") << "a cancel moves nothing";

    // A confirmed save moves it too; the process's own current folder never changes.
    backend.saveAnswer = docs + "/out.txt";
    ASSERT_TRUE(dialogs.ShowSave());
    EXPECT_EQ(OpenDialogFolder(), docs);
    EXPECT_EQ(QDir::currentPath(), cwd);

    // A folder that has gone falls back to the current folder.
    ASSERT_TRUE(QDir(docs).removeRecursively());
    EXPECT_EQ(OpenDialogFolder(), cwd);
}

TEST_F(CommonDialogs, SaveStartsInPathOrTheApplicationFolder) {
    dialogs.setTitle("Open Files");
    dialogs.setFileName(docs + "/old.pdf");
    backend.saveAnswer = docs + "/more/new.txt";

    ASSERT_TRUE(dialogs.ShowSave()); // Path empty
    EXPECT_EQ(dialogs.FileName(), docs + "/more/new.txt");
    EXPECT_EQ(dialogs.Path(), docs + "/more");
    EXPECT_EQ(dialogs.FileTitle(), "new.txt");

    ASSERT_TRUE(dialogs.ShowSave()); // Path from the last save
    dialogs.setPath(docs + "/missing");
    ASSERT_TRUE(dialogs.ShowSave());

    ASSERT_EQ(backend.saves.size(), 3);
    EXPECT_EQ(backend.saves[0].request.startFolder, appFolder);
    EXPECT_EQ(backend.saves[1].request.startFolder, docs + "/more");
    EXPECT_EQ(backend.saves[2].request.startFolder, appFolder);
    for (const RecordingDialogs::FileCall& call : backend.saves) {
        EXPECT_EQ(call.request.title, "Save");
        EXPECT_EQ(call.request.initialName, QString());
        EXPECT_EQ(call.request.nameFilters, QStringList{"*.* (*)"});
        EXPECT_EQ(call.request.selectedFilter, "*.* (*)");
        EXPECT_EQ(call.owner, &owner);
    }
}

TEST_F(CommonDialogs, FolderChoiceEmptiesTheFileProperties) {
    dialogs.setTitle("Please select a folder:");
    dialogs.setFileName(docs + "/a.pdf");
    dialogs.setFileTitle("a.pdf");
    backend.folderAnswer = docs + "/more/";

    ASSERT_TRUE(dialogs.ShowFolder());
    EXPECT_EQ(dialogs.Path(), docs + "/more");
    EXPECT_EQ(dialogs.FileName(), QString());
    EXPECT_EQ(dialogs.FileTitle(), QString());
    ASSERT_EQ(backend.folders.size(), 1);
    EXPECT_EQ(backend.folders[0].title, "Please select a folder:");
    EXPECT_EQ(backend.folders[0].owner, &owner);

    backend.folderAnswer = "/";
    ASSERT_TRUE(dialogs.ShowFolder());
    EXPECT_EQ(dialogs.Path(), "/");
}

TEST_F(CommonDialogs, ColourIsRedInTheLowByte) {
    dialogs.setColor(0x00CC8811); // red 0x11, green 0x88, blue 0xCC
    backend.colorAnswer = QColor(0x12, 0x34, 0x56);

    ASSERT_TRUE(dialogs.ShowColor(false));
    EXPECT_EQ(dialogs.Color(), 0x00563412u);
    ASSERT_EQ(backend.colorInitials.size(), 1);
    EXPECT_EQ(backend.colorInitials[0], QColor(0x11, 0x88, 0xCC));
}

TEST_F(CommonDialogs, FontGoesInAndComesBackInWholePoints) {
    dialogs.setFontName("DejaVu Sans");
    dialogs.setFontSize(14);
    dialogs.setFontBold(true);
    dialogs.setFontUnderline(true);
    QFont chosen("DejaVu Serif");
    chosen.setPointSizeF(10.5);
    chosen.setItalic(true);
    backend.fontAnswer = chosen;

    ASSERT_TRUE(dialogs.ShowFont());
    ASSERT_EQ(backend.fontInitials.size(), 1);
    const QFont& initial = backend.fontInitials[0];
    EXPECT_EQ(initial.family(), "DejaVu Sans");
    EXPECT_EQ(initial.pointSize(), 14);
    EXPECT_TRUE(initial.bold());
    EXPECT_FALSE(initial.italic());
    EXPECT_TRUE(initial.underline());

    EXPECT_EQ(dialogs.FontName(), "DejaVu Serif");
    EXPECT_EQ(dialogs.FontSize(), 10);
    EXPECT_FALSE(dialogs.FontBold());
    EXPECT_TRUE(dialogs.FontItalic());
    EXPECT_TRUE(dialogs.FontUnderline()) << "underline is not a choice of the dialog";

    // No size yet: the dialog's own default, not an invalid font.
    dialogs.setFontSize(0);
    dialogs.ShowFont();
    EXPECT_GT(backend.fontInitials[1].pointSizeF(), 0);
}

TEST_F(CommonDialogs, TextReadsStopAtTheFirstNul) {
    const QString nul(QChar(u'\0'));
    dialogs.setTitle("Open" + nul + "junk");
    dialogs.setPath("/in" + nul + "junk");
    dialogs.setFileTitle("a.pdf" + nul + "   ");
    dialogs.setFileName("/in/a.pdf" + nul + "   ");
    dialogs.setFilter("A|*.a" + nul);
    dialogs.setDefExt("pdf" + nul);
    dialogs.setFontName("Sans" + nul);

    EXPECT_EQ(dialogs.Title(), "Open");
    EXPECT_EQ(dialogs.Path(), "/in");
    EXPECT_EQ(dialogs.FileTitle(), "a.pdf");
    EXPECT_EQ(dialogs.FileName(), "/in/a.pdf");
    EXPECT_EQ(dialogs.Filter(), "A|*.a" + nul);
    EXPECT_EQ(dialogs.DefExt(), "pdf" + nul);
    EXPECT_EQ(dialogs.FontName(), "Sans" + nul);

    dialogs.ShowOpen();
    ASSERT_EQ(backend.opens.size(), 1);
    EXPECT_EQ(backend.opens[0].request.title, "Open");
    EXPECT_EQ(backend.opens[0].request.initialName, "/in/a.pdf");
}

TEST_F(CommonDialogs, SharedObjectIsReplacedFreshByEachWindow) {
    QWidget second;
    CCommonDialogs& first = ReplaceSharedDialogs(&owner);
    first.setFilter(kConverterFilter);
    first.setFileName("x.pdf");
    EXPECT_EQ(&SharedDialogs(), &first);
    EXPECT_EQ(SharedDialogs().owner(), &owner);

    CCommonDialogs& next = ReplaceSharedDialogs(&second);
    EXPECT_EQ(&SharedDialogs(), &next);
    EXPECT_EQ(next.owner(), &second);
    EXPECT_EQ(next.Filter(), QString());
    EXPECT_EQ(next.FileName(), QString());
}

TEST_F(CommonDialogs, StandAloneOpenChoosesItsStartFolder) {
    struct Case {
        QString given;
        QString used;
    };
    const Case cases[] = {
        {docs + "/more/", docs + "/more/"},
        {docs + "/more", docs + "/more/"},
        {docs + "/missing", appFolder},
        {"", appFolder},
        {"  \t", appFolder},
    };
    for (const Case& c : cases) {
        QString folder = c.given;
        EXPECT_EQ(GetOpenFilePath(&owner, "Pick", folder), QString()) << "cancelled";
        EXPECT_EQ(folder, c.used) << c.given.toStdString();
        EXPECT_EQ(backend.opens.last().request.startFolder, c.used);
    }
    const FileDialogRequest& request = backend.opens.last().request;
    EXPECT_EQ(request.title, "Pick");
    EXPECT_EQ(request.nameFilters, QStringList{"*.* (*)"});
    EXPECT_FALSE(request.mustExist);
    EXPECT_EQ(backend.opens.last().owner, &owner);

    // A choice moves the start of the next open dialog unless the flags say otherwise.
    QString folder = docs;
    backend.openAnswer = docs + "/more/b.pdf";
    EXPECT_EQ(GetOpenFilePath(nullptr, "Pick", folder, kConverterFilter, OfnFileMustExist),
              docs + "/more/b.pdf");
    EXPECT_TRUE(backend.opens.last().request.mustExist);
    EXPECT_EQ(OpenDialogFolder(), docs + "/more");
    backend.openAnswer = appFolder + "/c.pdf";
    EXPECT_EQ(GetOpenFilePath(nullptr, "Pick", folder, {}, OfnNoChangeDir), appFolder + "/c.pdf");
    EXPECT_EQ(OpenDialogFolder(), docs + "/more");
}

// The real Qt backend, answered the way a user would: type a name into the dialog, accept.
TEST(QtDialogs, OpenDialogIsWiredToTheProperties) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = QDir(dir.path()).canonicalPath();
    touch(folder + "/report.pdf");
    {
        // Leave the next open dialog in the test folder.
        RecordingDialogs recorder;
        recorder.openAnswer = folder + "/report.pdf";
        CCommonDialogs first;
        ASSERT_TRUE(first.ShowOpen());
    }

    QWidget owner;
    CCommonDialogs dialogs;
    dialogs.Init(&owner);
    dialogs.setTitle("Open Files");
    dialogs.setFilter(kConverterFilter);

    QPointer<QFileDialog> seen;
    QString seenFolder;
    QStringList seenFilters;
    QString seenSelected;
    QString seenTitle;
    QWidget* seenParent = nullptr;
    bool seenExistingOnly = false;
    bool found = false;
    bool warned = false;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            // A refusal (a warning over the dialog) would never end: close both.
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                warned = true;
                box->reject();
                if (seen) {
                    seen->reject();
                }
                return;
            }
        }
        if (seen) {
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog || !dialog->isVisible()) {
                continue;
            }
            seen = dialog;
            found = true;
            seenTitle = dialog->windowTitle();
            seenParent = dialog->parentWidget();
            seenExistingOnly = dialog->fileMode() == QFileDialog::ExistingFile;
            seenFolder = dialog->directory().absolutePath();
            seenFilters = dialog->nameFilters();
            seenSelected = dialog->selectedNameFilter();
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!edit) {
                dialog->reject();
                return;
            }
            edit->setText("report.pdf");
            QMetaObject::invokeMethod(dialog, "accept");
            return;
        }
    });
    answer.start();
    const bool confirmed = dialogs.ShowOpen();
    answer.stop();

    ASSERT_TRUE(found) << "the dialog is Qt's own widget";
    EXPECT_FALSE(warned);
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(seenTitle, "Open Files");
    EXPECT_EQ(seenParent, &owner);
    EXPECT_TRUE(seenExistingOnly);
    EXPECT_EQ(seenFolder, folder);
    EXPECT_EQ(seenFilters, QStringList{"PDF Files(*.pdf) (*.pdf)"});
    EXPECT_EQ(seenSelected, "PDF Files(*.pdf)") << "the list shows the labels only";
    EXPECT_EQ(dialogs.FileName(), folder + "/report.pdf");
    EXPECT_EQ(dialogs.Path(), folder);
    EXPECT_EQ(dialogs.FileTitle(), "report.pdf");
}

} // namespace
