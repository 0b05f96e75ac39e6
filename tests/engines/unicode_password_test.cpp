// Passwords typed in Unicode: for AES-256 files the SASLprep form (RFC 4013) that ISO 32000-2
// asks for, and the typed bytes for files whose maker did not prepare theirs; for RC4 and
// AES-128 files the PDFDocEncoding form. Each through the export library (and its page
// workers) and through the decryption tool.
#include "engine_test_support.h"
#include "saslprep.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <ostream>

using namespace engine_tests;

namespace {

// U+00AD soft hyphen, U+00AA feminine ordinal, U+00A0 no-break space, U+0301 combining acute,
// U+00E9 é, as UTF-8.
#define SHY "\xC2\xAD"
#define ORDF "\xC2\xAA"
#define NBSP "\xC2\xA0"
#define ACUTE "\xCC\x81"
#define E_ACUTE "\xC3\xA9"

template <typename Case> std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// Failure messages name the case and show the password with its bytes escaped.
std::string escaped(const std::string& bytes) {
    std::string out;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// ---- the pure helper ----

struct Prepared {
    const char* name;
    std::string typed;
    std::optional<std::string> prepared; ///< nullopt: no prepared form
};
void PrintTo(const Prepared& c, std::ostream* os) {
    *os << c.name << " \"" << escaped(c.typed) << '"';
}

class Saslprep : public ::testing::TestWithParam<Prepared> {};

TEST_P(Saslprep, GivesThePreparedFormOrNone) {
    EXPECT_EQ(pdftox::saslprep(GetParam().typed), GetParam().prepared);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc4013, Saslprep,
    ::testing::Values(
        Prepared{"AsciiStaysAsItIs", "user USER", "user USER"},
        Prepared{"SoftHyphenMapsToNothing", "I" SHY "X", "IX"},
        Prepared{"OnlyASoftHyphenLeavesNothing", SHY, ""},
        Prepared{"FeminineOrdinalBecomesA", ORDF, "a"},
        Prepared{"NoBreakSpaceBecomesSpace", "a" NBSP "b", "a b"},
        Prepared{"DecomposedEIsComposed", "cafe" ACUTE, "caf" E_ACUTE},
        // U+0221 came after Unicode 3.2: a typed password may hold it (a query, not a store).
        Prepared{"UnassignedCodePointIsLetThrough", "d\xC8\xA1", "d\xC8\xA1"},
        Prepared{"BellIsProhibited", "\x07", std::nullopt},
        Prepared{"EmbeddedNulIsProhibited", std::string("ab\0cd", 5), std::nullopt},
        Prepared{"RightToLeftEndingInADigitBreaksBidi",
                 "\xD8\xA7"
                 "1",
                 std::nullopt},
        Prepared{"BytesThatAreNotUtf8HaveNoForm", "pass\xE9", std::nullopt}),
    caseName<Prepared>);

struct Tries {
    const char* name;
    std::string typed;
    std::vector<std::string> tries;
};
void PrintTo(const Tries& c, std::ostream* os) {
    *os << c.name << " \"" << escaped(c.typed) << '"';
}

class Aes256Passwords : public ::testing::TestWithParam<Tries> {};

TEST_P(Aes256Passwords, PreparedFormFirstThenTheTypedBytes) {
    EXPECT_EQ(pdftox::aes256Passwords(GetParam().typed), GetParam().tries);
}

const std::string x126(126, 'x');

INSTANTIATE_TEST_SUITE_P(
    Forms, Aes256Passwords,
    ::testing::Values(
        Tries{"SameFormIsTriedOnce", "password", {"password"}},
        Tries{"PreparedThenTyped", "pass" SHY "word", {"password", "pass" SHY "word"}},
        Tries{"NoPreparedFormLeavesTheTypedBytes", "tab\x01", {"tab\x01"}},
        Tries{"NotUtf8LeavesTheTypedBytes", "caf\xE9", {"caf\xE9"}},
        Tries{"LongPasswordIsCutTo127Bytes", std::string(200, 'a'), {std::string(127, 'a')}},
        // Prepared before it is cut: the soft hyphen no longer takes two of the 127 bytes.
        Tries{"PreparedThenCut", x126 + SHY "yz", {x126 + "y", x126 + "\xC2"}}),
    caseName<Tries>);

// ---- files ----

const std::string app = LUMADOC_APP_DIR;
const std::string owner = "the owner";

/// Writes a three-page PDF encrypted with AES-256 (revision 6) whose user password is the byte
/// string `user`, as a program writes it that takes the password's bytes as given.
void writeAes256(const std::string& plain, const std::string& out, const std::string& user) {
    QPDF pdf;
    pdf.processFile(plain.c_str());
    QPDFWriter writer(pdf, out.c_str());
    writer.setR6EncryptionParameters(user.c_str(), owner.c_str(), true, true, true, true, true,
                                     true, qpdf_r3p_full, true);
    writer.write();
}

/// Runs the decryption tool as the conversion run does: `locked` with `password` into `out`.
ToolResult decryptWithTool(const TempFolder& dir, const std::string& locked,
                           const std::string& password, const std::string& out) {
    return runTool(app + "/data/pdftk " + q(locked) + " input_pw " + q(password) + " output " +
                       q(out) + " dont_ask",
                   dir.file("stderr.txt"));
}

struct Locked {
    const char* name;
    std::string typed;  ///< what the user types
    std::string stored; ///< the password bytes the file was made with
};
void PrintTo(const Locked& c, std::ostream* os) {
    *os << c.name << " \"" << escaped(c.typed) << "\" for \"" << escaped(c.stored) << '"';
}

class Aes256File : public ::testing::TestWithParam<Locked> {
protected:
    void SetUp() override {
        const std::string plain = dir.file("plain.pdf");
        ASSERT_TRUE(testing_support::writeFixturePdf(plain, styledPages()));
        locked = dir.file("locked.pdf");
        writeAes256(plain, locked, GetParam().stored);
    }
    ToolResult decrypt(const std::string& password, const std::string& out) {
        return decryptWithTool(dir, locked, password, out);
    }

    TempFolder dir;
    std::string locked;
};

TEST_P(Aes256File, TypedPasswordOpensItThroughTheLibrary) {
    const int h = OpenPDF(locked.c_str(), GetParam().typed.c_str());
    ASSERT_GT(h, 0);
    EXPECT_EQ(GetPageNum(h), 3);
    // The page workers open the file again with the same password.
    const std::string images = dir.file("images");
    ASSERT_EQ(run("mkdir '" + images + "'"), 0);
    EXPECT_EQ(ExportIMG(h, images.c_str(), "", PDFTOX_PNG, 18, 24, 1, 3, nullptr), 3);
    EXPECT_EQ(listFolder(images).size(), 3u);
    ClosePDF(h);

    EXPECT_EQ(OpenPDF(locked.c_str(), ""), PDFTOX_NEEDS_PASSWORD);
    EXPECT_EQ(OpenPDF(locked.c_str(), ("!" + GetParam().typed).c_str()), PDFTOX_WRONG_PASSWORD);
    const int byOwner = OpenPDF(locked.c_str(), owner.c_str());
    EXPECT_GT(byOwner, 0);
    ClosePDF(byOwner);
}

TEST_P(Aes256File, TypedPasswordOpensItThroughTheDecryptionTool) {
    const std::string out = dir.file("open é.pdf");
    const ToolResult r = decrypt(GetParam().typed, out);
    ASSERT_EQ(r.status, 0) << r.errors;
    QPDF doc;
    doc.processFile(out.c_str());
    EXPECT_FALSE(doc.isEncrypted());
    EXPECT_EQ(QPDFPageDocumentHelper(doc).getAllPages().size(), 3u);

    const std::string never = dir.file("never.pdf");
    const ToolResult wrong = decrypt("!" + GetParam().typed, never);
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.errors.find("the password is not right"), std::string::npos) << wrong.errors;
    EXPECT_FALSE(std::ifstream(never).good()) << "a failed run leaves no output";
}

INSTANTIATE_TEST_SUITE_P(
    Passwords, Aes256File,
    ::testing::Values(
        // Made by programs that prepare passwords as ISO 32000-2 asks.
        Locked{"SoftHyphen", "pass" SHY "word", "password"},
        Locked{"FeminineOrdinal", ORDF "bc123", "abc123"},
        Locked{"NoBreakSpace", "open" NBSP "sesame", "open sesame"},
        Locked{"DecomposedE", "cafe" ACUTE, "caf" E_ACUTE},
        Locked{"AllTogether", ORDF NBSP "cafe" ACUTE "-pa" SHY "ss", "a caf" E_ACUTE "-pass"},
        // Its maker keeps the first 127 bytes of the prepared form.
        Locked{"PreparedThenCutTo127Bytes", x126 + SHY "yz", x126 + "y"},
        // Made by programs that take the typed bytes as they are.
        Locked{"SoftHyphenKeptByItsMaker", "pass" SHY "word", "pass" SHY "word"},
        Locked{"DecomposedEKeptByItsMaker", "cafe" ACUTE, "cafe" ACUTE},
        Locked{"ControlCharacterKeptByItsMaker",
               "tab\x01"
               "char",
               "tab\x01"
               "char"}),
    caseName<Locked>);

struct Cipher {
    const char* name;
    const char* how; ///< qpdf's --encrypt arguments after the passwords
};
void PrintTo(const Cipher& c, std::ostream* os) {
    *os << c.name;
}

class OlderCipher : public ::testing::TestWithParam<Cipher> {
protected:
    void SetUp() override {
        plain = dir.file("plain.pdf");
        ASSERT_TRUE(testing_support::writeFixturePdf(plain, styledPages()));
    }
    // Encrypted by qpdf's command line, which stores a UTF-8 password in PDFDocEncoding.
    std::string encrypted(const std::string& user) {
        const std::string locked = dir.file("locked.pdf");
        EXPECT_EQ(run("qpdf --allow-weak-crypto --encrypt '" + user + "' owner " + GetParam().how +
                      " -- '" + plain + "' '" + locked + "'"),
                  0);
        return locked;
    }
    static bool opensInTheLibrary(const std::string& file, const std::string& password) {
        const int h = OpenPDF(file.c_str(), password.c_str());
        ClosePDF(h);
        return h > 0;
    }

    TempFolder dir;
    std::string plain;
};

// The prepared form ("open sesame") is not tried for these revisions. (MuPDF leaves out on its
// own a character that PDFDocEncoding lacks, such as the soft hyphen; it has the no-break space.)
TEST_P(OlderCipher, TakesNoPreparedForm) {
    const std::string locked = encrypted("open sesame");
    const std::string typed = "open" NBSP "sesame";
    EXPECT_EQ(OpenPDF(locked.c_str(), typed.c_str()), PDFTOX_WRONG_PASSWORD);
    const ToolResult r = decryptWithTool(dir, locked, typed, dir.file("out.pdf"));
    EXPECT_EQ(r.status, 1) << r.errors;
    EXPECT_TRUE(opensInTheLibrary(locked, "open sesame"));
}

// A password typed in UTF-8 opens the file in the decryption tool as it does in the library.
TEST_P(OlderCipher, Utf8PasswordIsTriedInPdfDocEncoding) {
    const std::string locked = encrypted("caf" E_ACUTE " cr"
                                         "\xC3\xA8"
                                         "me");
    EXPECT_TRUE(opensInTheLibrary(locked, "caf" E_ACUTE " cr"
                                          "\xC3\xA8"
                                          "me"));
    const std::string out = dir.file("open.pdf");
    const ToolResult r = decryptWithTool(dir, locked,
                                         "caf" E_ACUTE " cr"
                                         "\xC3\xA8"
                                         "me",
                                         out);
    ASSERT_EQ(r.status, 0) << r.errors;
    QPDF doc;
    doc.processFile(out.c_str());
    EXPECT_FALSE(doc.isEncrypted());
    EXPECT_EQ(decryptWithTool(dir, locked, "cafe creme", dir.file("never.pdf")).status, 1);
}

INSTANTIATE_TEST_SUITE_P(Revisions, OlderCipher,
                         ::testing::Values(Cipher{"Rc4_128", "128 --use-aes=n"},
                                           Cipher{"Aes128", "128 --use-aes=y"}),
                         caseName<Cipher>);

} // namespace
