#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const Conventions host{QChar('/'), QString(), QString(), QString()};

void touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write("x");
}

// The expected order, computed independently: a folder's matching files in listing order,
// then each subfolder depth-first.
void expectedOrder(const fs::path& folder, QStringList& out, bool (*test)(const QString&)) {
    std::vector<fs::path> subfolders;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const QString name = QString::fromStdString(entry.path().filename().string());
        if (entry.is_directory()) {
            subfolders.push_back(entry.path());
        } else if (test(name)) {
            out << QString::fromStdString(entry.path().string());
        }
    }
    for (const auto& sub : subfolders) {
        expectedOrder(sub, out, test);
    }
}

class FolderTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        root = dir.path() + "/in put é";
        touch(root + "/a.pdf");
        touch(root + "/notapdf");
        touch(root + "/Scan.PDF");
        touch(root + "/photo.Jpeg");
        touch(root + "/readme.txt");
        touch(root + "/.hidden/h.pdf");
        touch(root + "/sub/deep/deeper/z.pdf");
        touch(root + "/sub/s.pdf");
        touch(root + "/sub/s.tif");
        touch(root + "/ro/r.pdf");
        chmod(QFile::encodeName(root + "/ro").constData(), 0555);
        for (int i = 0; i < 230; ++i) {
            touch(root + QString("/many/f%1/p%1.pdf").arg(i));
        }
        // A link back up the tree must not make the search go round forever.
        QFile::link(root, root + "/sub/loop");
    }
    void TearDown() override { chmod(QFile::encodeName(root + "/ro").constData(), 0755); }

    QTemporaryDir dir;
    QString root;
};

TEST_F(FolderTree, PdfSearchVisitsEveryFolderInDepthFirstListingOrder) {
    QStringList found;
    SearchPdfFiles(root, found, host);

    QStringList expected;
    // Stop the independent walk at the loop link, which the search visits as already seen.
    QFile::remove(root + "/sub/loop");
    expectedOrder(fs::path(root.toStdString()), expected, isPdfName);
    ASSERT_EQ(found.size(), 7 + 230);
    ASSERT_EQ(expected.size(), found.size());
    for (qsizetype i = 0; i < found.size(); ++i) {
        ASSERT_EQ(found[i], expected[i]) << "first difference at " << i;
    }
    EXPECT_TRUE(found.contains(root + "/notapdf"));
    EXPECT_TRUE(found.contains(root + "/Scan.PDF"));
    EXPECT_TRUE(found.contains(root + "/.hidden/h.pdf"));
    EXPECT_TRUE(found.contains(root + "/ro/r.pdf"));
    EXPECT_TRUE(found.contains(root + "/many/f229/p229.pdf"));
    EXPECT_FALSE(found.contains(root + "/readme.txt"));
}

TEST_F(FolderTree, TrailingSeparatorGivesTheSamePaths) {
    QFile::remove(root + "/sub/loop");
    QStringList plain;
    QStringList trailing;
    SearchImageFiles(root, plain, host);
    SearchImageFiles(root + "/", trailing, host);
    EXPECT_EQ(plain, trailing);
    EXPECT_EQ(plain, (QStringList{root + "/photo.Jpeg", root + "/sub/s.tif"}));
}

TEST_F(FolderTree, MissingFolderAddsNothing) {
    QStringList found{"kept"};
    SearchPdfFiles(root + "/missing", found, host);
    EXPECT_EQ(found, QStringList{"kept"});
}

TEST(DeleteFolderTree, RemovesReadOnlyHiddenAndNestedEntriesButNeverFollowsLinks) {
    QTemporaryDir dir;
    const QString tree = dir.path() + "/work";
    const QString outside = dir.path() + "/outside";
    touch(tree + "/.hidden");
    touch(tree + "/readonly.pdf");
    chmod(QFile::encodeName(tree + "/readonly.pdf").constData(), 0444);
    touch(tree + "/a/b/c/deep.txt");
    touch(tree + "/locked/inside.txt");
    chmod(QFile::encodeName(tree + "/locked").constData(), 0555);
    touch(outside + "/precious.txt");
    QFile::link(outside, tree + "/link-to-outside");
    QFile::link(tree + "/nowhere", tree + "/dangling");

    DeleteFolderTree(tree);

    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_TRUE(QFileInfo::exists(outside + "/precious.txt"));
    DeleteFolderTree(tree); // missing: nothing happens
    DeleteFolderTree(QString());
}

} // namespace
