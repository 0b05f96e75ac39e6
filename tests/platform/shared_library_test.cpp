#include "platform/shared_library.h"

#include "engines/pdftox.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::SharedLibrary;

namespace {

const QString exportLibrary = QStringLiteral(LUMADOC_APP_DIR "/libpdftox.so");

TEST(SharedLibrary, AMissingLibraryFailsOnceAndForAll) {
    QTemporaryDir dir;
    const QString path = dir.filePath("libmissing.so");
    SharedLibrary library(path);
    EXPECT_TRUE(library.errorString().isEmpty()) << "nothing is tried before the first use";

    EXPECT_EQ(library.resolve<decltype(&::GetPageNum)>("GetPageNum"), nullptr);
    EXPECT_FALSE(library.load());
    EXPECT_FALSE(library.errorString().isEmpty());

    // The outcome of the first try stands even when the file appears afterwards.
    ASSERT_TRUE(QFile::copy(exportLibrary, path));
    EXPECT_FALSE(library.load());
    EXPECT_EQ(library.resolve<decltype(&::GetPageNum)>("GetPageNum"), nullptr);
}

TEST(SharedLibrary, AFileThatIsNoLibraryFailsCleanly) {
    QTemporaryDir dir;
    const QString path = dir.filePath("libtext.so");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a shared object\n");
    file.close();

    SharedLibrary library(path);
    EXPECT_FALSE(library.load());
    EXPECT_FALSE(library.errorString().isEmpty());
    EXPECT_EQ(library.resolve<decltype(&::OpenPDF)>("OpenPDF"), nullptr);
}

TEST(SharedLibrary, ResolvesTheFunctionsOfTheExportLibrary) {
    SharedLibrary library(exportLibrary);
    const auto pages = library.resolve<decltype(&::GetPageNum)>("GetPageNum");
    ASSERT_NE(pages, nullptr) << library.errorString().toStdString();
    EXPECT_TRUE(library.load());
    EXPECT_TRUE(library.errorString().isEmpty());
    EXPECT_EQ(pages(987654), PDFTOX_BAD_HANDLE);

    const auto open = library.resolve<decltype(&::OpenPDF)>("OpenPDF");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open("/nonexistent/file.pdf", nullptr), PDFTOX_CANNOT_OPEN);

    EXPECT_EQ(library.resolve<decltype(&::ClosePDF)>("NoSuchFunction"), nullptr);
    EXPECT_TRUE(library.load()) << "a missing symbol leaves the library loaded";
}

} // namespace
