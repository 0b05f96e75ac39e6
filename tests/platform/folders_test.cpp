#include "platform/paths.h"
#include "platform/raw_names.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

const Conventions host{QChar('/'), QString(), QString(), QString()};

void touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write("x");
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

TEST_F(FolderTree, PdfSearchVisitsEveryFolderDepthFirstInNaturalOrder) {
    QStringList found;
    SearchPdfFiles(root, found, host);

    // A folder's own files first, then its subfolders, each in natural order ignoring case;
    // the link back up the tree is a folder already seen.
    QStringList expected{root + "/a.pdf", root + "/notapdf", root + "/Scan.PDF",
                         root + "/.hidden/h.pdf"};
    for (int i = 0; i < 230; ++i) {
        expected << root + QString("/many/f%1/p%1.pdf").arg(i);
    }
    expected << root + "/ro/r.pdf" << root + "/sub/s.pdf" << root + "/sub/deep/deeper/z.pdf";
    ASSERT_EQ(found.size(), expected.size());
    for (qsizetype i = 0; i < found.size(); ++i) {
        ASSERT_EQ(found[i], expected[i]) << "first difference at " << i;
    }
}

QStringList sortedNames(const QStringList& names) {
    QFileInfoList entries;
    for (const QString& name : names) {
        entries << QFileInfo("/nowhere/" + name);
    }
    SortNaturally(entries);
    QStringList sorted;
    for (const QFileInfo& entry : entries) {
        sorted << entry.fileName();
    }
    return sorted;
}

TEST(NaturalOrder, NumbersByValueLettersIgnoringCase) {
    // Numbers by their value, letters as a file manager shows them (accents beside their base
    // letter, case ignored); names equal in that order, by their characters.
    const QStringList expected{
        "9.pdf",        "10.pdf",     "A.pdf",       "a.pdf",       "b.pdf",     "émile.pdf",
        "page 007.pdf", "page 7.pdf", "page 7b.pdf", "page 20.pdf", "scan1.pdf", "Scan2.pdf",
        "SCAN9.pdf",    "scan10.pdf", "Scan11.pdf",  "sub9",        "Sub10",     "Zeta.pdf"};
    const QStringList shuffled{
        "scan10.pdf", "Scan2.pdf",    "b.pdf",       "Sub10",    "SCAN9.pdf",   "scan1.pdf",
        "A.pdf",      "page 007.pdf", "page 7b.pdf", "Zeta.pdf", "page 20.pdf", "10.pdf",
        "Scan11.pdf", "9.pdf",        "émile.pdf",   "a.pdf",    "sub9",        "page 7.pdf"};
    ASSERT_EQ(shuffled.size(), expected.size());
    EXPECT_EQ(sortedNames(shuffled), expected);
    QStringList reversed(expected.rbegin(), expected.rend());
    EXPECT_EQ(sortedNames(reversed), expected);
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

namespace {

// A file whose name is Latin-1, not UTF-8, as an old archive or a Windows share gives it: given
// as bytes on a command line or dropped as a URL, it opens under the name it was meant to have.
TEST(RawNames, NamesThatAreNotUtf8AreReached) {
    QTemporaryDir dir;
    const QByteArray raw = QFile::encodeName(dir.path()) + "/caf\xE9 \"1\".pdf";
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "%PDF", 4), 4);
    ::close(fd);

    const QString viaBytes = platform::ReachablePath(raw);
    EXPECT_TRUE(viaBytes.endsWith(QStringLiteral("/café \"1\".pdf"))) << viaBytes.toStdString();
    QFile opened(viaBytes);
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(opened.readAll(), QByteArray("%PDF"));
    EXPECT_EQ(platform::ShownPath(viaBytes), dir.path() + QStringLiteral("/café \"1\".pdf"));

    const QUrl dropped = QUrl::fromEncoded("file://" + raw.toPercentEncoding("/"));
    EXPECT_TRUE(QFile::exists(platform::ReachableLocalFile(dropped)));

    // UTF-8 names and their URLs stay as they are.
    const QString plain = dir.path() + QStringLiteral("/é.pdf");
    EXPECT_EQ(platform::ReachablePath(QFile::encodeName(plain)), plain);
    EXPECT_EQ(platform::ReachableLocalFile(QUrl::fromLocalFile(plain)), plain);
    EXPECT_EQ(platform::ShownPath(plain), plain);
}

} // namespace
