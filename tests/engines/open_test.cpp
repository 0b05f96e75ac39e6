// Opening documents: the results of OpenPDF for plain, protected, damaged and foreign files.
#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace engine_tests;

namespace {

class OpenPdf : public ::testing::Test {
protected:
    void SetUp() override {
        plain = dir.file("plain file é.pdf");
        ASSERT_TRUE(testing_support::writeFixturePdf(plain, styledPages()));
    }
    // Encrypts `plain` with qpdf; `how` is the rest of qpdf's --encrypt arguments.
    std::string encrypted(const std::string& name, const std::string& user,
                          const std::string& owner, const std::string& how) {
        const std::string out = dir.file(name);
        const int rc = run("qpdf --allow-weak-crypto --encrypt '" + user + "' '" + owner + "' " +
                           how + " -- '" + plain + "' '" + out + "'");
        EXPECT_EQ(rc, 0) << "qpdf could not encrypt";
        return out;
    }
    static int openAndClose(const std::string& path, const char* password) {
        const int h = OpenPDF(path.c_str(), password);
        if (h > 0) {
            EXPECT_EQ(GetPageNum(h), 3);
            ClosePDF(h);
        }
        return h;
    }

    TempFolder dir;
    std::string plain;
};

TEST_F(OpenPdf, PlainFileOpensWithOrWithoutAPassword) {
    const int h = OpenPDF(plain.c_str(), "");
    ASSERT_GT(h, 0);
    EXPECT_EQ(GetPageNum(h), 3);
    EXPECT_EQ(GetPageWidth(h, 1), 612);
    EXPECT_EQ(GetPageHeight(h, 1), 792);
    EXPECT_EQ(GetPageWidth(h, 2), 792);
    EXPECT_EQ(GetPageWidth(h, 3), 792) << "a page turned by 90 degrees is shown landscape";
    EXPECT_EQ(GetPageWidth(h, 4), 0);
    const int second = OpenPDF(plain.c_str(), nullptr);
    EXPECT_GT(second, h) << "handles are distinct";
    ClosePDF(h);
    ClosePDF(second);
    ClosePDF(second); // twice: ignored
    EXPECT_EQ(GetPageNum(h), PDFTOX_BAD_HANDLE);
    EXPECT_GT(openAndClose(plain, "unneeded"), 0);
}

struct Cipher {
    const char* name;
    const char* how;
};

class ProtectedPdf : public OpenPdf, public ::testing::WithParamInterface<Cipher> {};

TEST_P(ProtectedPdf, UserAndOwnerPasswordsOpenItOthersDoNot) {
    const std::string file = encrypted("locked.pdf", "us\"er pw", "owner", GetParam().how);
    EXPECT_EQ(OpenPDF(file.c_str(), ""), PDFTOX_NEEDS_PASSWORD);
    EXPECT_EQ(OpenPDF(file.c_str(), nullptr), PDFTOX_NEEDS_PASSWORD);
    EXPECT_EQ(OpenPDF(file.c_str(), "wrong"), PDFTOX_WRONG_PASSWORD);
    EXPECT_GT(openAndClose(file, "us\"er pw"), 0);
    EXPECT_GT(openAndClose(file, "owner"), 0);
}

TEST_P(ProtectedPdf, EmptyUserPasswordOpensWithoutAsking) {
    const std::string file = encrypted("owner-only.pdf", "", "owner", GetParam().how);
    EXPECT_GT(openAndClose(file, ""), 0);
    EXPECT_GT(openAndClose(file, "owner"), 0);
}

INSTANTIATE_TEST_SUITE_P(Ciphers, ProtectedPdf,
                         ::testing::Values(Cipher{"Aes256", "256"},
                                           Cipher{"Rc4_128", "128 --use-aes=n"},
                                           Cipher{"Aes128", "128 --use-aes=y"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(OpenPdf, DamagedAndForeignFiles) {
    EXPECT_EQ(OpenPDF(dir.file("missing.pdf").c_str(), ""), PDFTOX_CANNOT_OPEN);
    EXPECT_EQ(OpenPDF("", ""), PDFTOX_CANNOT_OPEN);
    EXPECT_EQ(OpenPDF(nullptr, ""), PDFTOX_CANNOT_OPEN);
    EXPECT_EQ(OpenPDF(dir.path().c_str(), ""), PDFTOX_CANNOT_OPEN) << "a folder";

    std::ofstream(dir.file("text.pdf")) << "This is a text file, not a PDF.\n";
    EXPECT_EQ(OpenPDF(dir.file("text.pdf").c_str(), ""), PDFTOX_CANNOT_OPEN);

    const std::string png = dir.file("image.pdf");
    std::ofstream(png, std::ios::binary)
        << std::string("\x89PNG\r\n\x1a\n", 8) << std::string(64, '\0');
    EXPECT_EQ(OpenPDF(png.c_str(), ""), PDFTOX_CANNOT_OPEN);

    // Cut off before the cross-reference table: the objects are all there and are found again.
    const std::string bytes = readFile(plain);
    std::ofstream(dir.file("truncated.pdf"), std::ios::binary)
        << bytes.substr(0, bytes.find("xref"));
    const int h = OpenPDF(dir.file("truncated.pdf").c_str(), "");
    ASSERT_GT(h, 0) << "a repairable file opens";
    EXPECT_EQ(GetPageNum(h), 3);
    ClosePDF(h);

    // Cut in the middle of the page objects: whatever remains must not crash the caller.
    std::ofstream(dir.file("half.pdf"), std::ios::binary) << bytes.substr(0, bytes.size() / 3);
    const int half = OpenPDF(dir.file("half.pdf").c_str(), "");
    if (half > 0) {
        EXPECT_GE(GetPageNum(half), 1);
        ClosePDF(half);
    } else {
        EXPECT_EQ(half, PDFTOX_CANNOT_OPEN);
    }
}

TEST(OpenCorpus, RealWorldFilesOpenAndProbe) {
    if (!haveCorpus()) {
        GTEST_SKIP() << "corpus not present";
    }
    struct Case {
        const char* file;
        int pages;
        const char* password;
    };
    for (const Case& c : {Case{"tracemonkey.pdf", 14, ""}, Case{"freeculture.pdf", 352, ""},
                          Case{"xfa_filled_imm1344e.pdf", 1, ""}, Case{"issue16063.pdf", 1, ""},
                          Case{"pr6531_1.pdf", 1, "asdfasdf"}, Case{"issue6010_1.pdf", 1, "abc"}}) {
        const int h = OpenPDF(corpus(c.file).c_str(), c.password);
        ASSERT_GT(h, 0) << c.file;
        EXPECT_EQ(GetPageNum(h), c.pages) << c.file;
        ClosePDF(h);
    }
    EXPECT_EQ(OpenPDF(corpus("pr6531_1.pdf").c_str(), ""), PDFTOX_NEEDS_PASSWORD);
    EXPECT_EQ(OpenPDF(corpus("issue6010_1.pdf").c_str(), "abd"), PDFTOX_WRONG_PASSWORD);
}

} // namespace
