// Formats, settings rows and their corrections, numbers, and the two settings files.
#include "convert/conversion_settings.h"
#include "convert/numeric.h"
#include "convert/output_format.h"
#include "convert/settings_files.h"

#include <QFile>
#include <QTemporaryDir>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <cmath>

using namespace convert;
using enum convert::OutputFormat;

namespace {

QStringList labels(const ConversionSettings& s) {
    QStringList out;
    for (const SettingsRow& row : s.rows()) {
        out << row.label + "=" + row.value;
    }
    return out;
}

TEST(SettingsRows, EachFormatHasItsRowsAndDefaults) {
    ConversionSettings s;
    const QStringList common{"First Page to Convert=1", "Last Page to Convert=ALL PAGES"};
    for (int f = 0; f < FormatCount; ++f) {
        s.cmbOF_Click(f);
        QStringList expected = common;
        if (f == indexOf(Text)) {
            expected << "Page Breaks=YES";
        } else if (f == indexOf(Flash)) {
            expected << "Flash 6 Compression=YES"
                     << "FPS=0.5"
                     << "Play Button=NO";
        }
        EXPECT_EQ(labels(s), expected) << FormatListTexts()[f].toStdString();
        EXPECT_EQ(s.formatIndex(), f);
    }
    EXPECT_EQ(FormatListTexts().size(), 10);
    EXPECT_EQ(FormatListTexts()[0], "Word Files(*.Doc)");
    EXPECT_EQ(FormatListTexts()[9], "Flash Files(*.swf)");

    // Nothing selected: the rows stay, the format is none.
    s.cmbOF_Click(-1);
    EXPECT_EQ(s.rowCount(), 5);
    EXPECT_EQ(s.formatIndex(), -1);
    s.cmbOF_Click(10);
    EXPECT_EQ(s.formatIndex(), -1);
}

TEST(SettingsRows, SwitchingFormatsRestoresDefaults) {
    ConversionSettings s;
    s.selectFormat(Text);
    s.LV2_Click(2);
    s.txtValue_Change("5");
    EXPECT_EQ(s.value(2), "5");
    s.selectFormat(Png);
    s.selectFormat(Text);
    EXPECT_EQ(s.value(2), "ALL PAGES");
}

struct Typed {
    OutputFormat format;
    int row;
    const char* text;
    const char* value;
};

class Corrections : public ::testing::TestWithParam<Typed> {};

TEST_P(Corrections, TypedValuesAreCorrectedInPlace) {
    const Typed& t = GetParam();
    ConversionSettings s;
    s.selectFormat(t.format);
    EXPECT_EQ(s.LV2_Click(t.row), ConversionSettings::Editor::Text);
    s.txtValue_Change(QString::fromUtf8(t.text));
    EXPECT_EQ(s.value(t.row), QString::fromUtf8(t.value))
        << "typed '" << t.text << "' in row " << t.row;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Corrections,
    ::testing::Values(
        Typed{Word, 1, "x", "1"}, Typed{Word, 2, "x", "ALL PAGES"}, Typed{Word, 1, "3a", "1"},
        Typed{Word, 2, "3a", "ALL PAGES"}, Typed{Word, 2, "5", "5"}, Typed{Word, 1, "0", "0"},
        Typed{Word, 1, "", ""}, Typed{Word, 1, "007", "007"}, Typed{Word, 1, "-2", "1"},
        Typed{Word, 1, "٣", "1"}, Typed{Flash, 4, "11", "10"}, Typed{Flash, 4, "10", "10"},
        Typed{Flash, 4, "0.5", "0.5"}, Typed{Flash, 4, "2.5", "0.5"}, Typed{Flash, 4, "12.5", "10"},
        Typed{Flash, 4, "abc", "0.5"}, Typed{Flash, 4, "x", "0.5"}, Typed{Flash, 4, "0", "0"},
        Typed{Flash, 4, "", ""}, Typed{Flash, 4, "1e3", "10"}, Typed{Flash, 2, "x", "ALL PAGES"},
        Typed{Flash, 1, "x", "1"}),
    [](const ::testing::TestParamInfo<Typed>& test) {
        // FlashRow4_0_5, WordRow1_Empty, WordRow1_minus2, WordRow1_U0663: letters and digits only.
        std::string name = std::string(test.param.format == Flash ? "Flash" : "Word") + "Row" +
                           std::to_string(test.param.row) + "_";
        const QString text = QString::fromUtf8(test.param.text);
        if (text.isEmpty()) {
            name += "Empty";
        }
        for (const QChar c : text) {
            if (c.unicode() < 128 && c.isLetterOrNumber()) {
                name += char(c.unicode());
            } else if (c == QChar('.')) {
                name += '_';
            } else if (c == QChar('-')) {
                name += "minus";
            } else {
                name += QStringLiteral("U%1").arg(c.unicode(), 4, 16, QChar('0')).toStdString();
            }
        }
        return name;
    });

TEST(SettingsRows, YesNoRowsOpenTheChooser) {
    ConversionSettings s;
    s.selectFormat(Flash);
    EXPECT_EQ(s.LV2_Click(3), ConversionSettings::Editor::YesNo);
    s.cmbYesNo_Click("NO");
    EXPECT_EQ(s.value(3), "NO");
    EXPECT_EQ(s.LV2_Click(5), ConversionSettings::Editor::YesNo);
    EXPECT_EQ(s.LV2_Click(2), ConversionSettings::Editor::Text) << "ALL PAGES takes the text box";
    EXPECT_EQ(s.value(2), "ALL PAGES");
    EXPECT_EQ(s.LV2_Click(4), ConversionSettings::Editor::Text);
}

TEST(Numbers, NumericValueAndRounding) {
    struct Case {
        const char* text;
        double value;
    };
    for (const Case& c :
         {Case{"2.5", 2.5}, Case{"12abc", 12}, Case{" 1 2", 12}, Case{"abc", 0}, Case{"1e3", 1000},
          Case{"-3.5", -3.5}, Case{".5", 0.5}, Case{"1e", 1}, Case{"+", 0}, Case{"1.2.3", 1.2},
          Case{"\t7\n", 7}, Case{"", 0}, Case{"ALL PAGES", 0}, Case{"3D2", 300}, Case{"- 4", -4}}) {
        EXPECT_DOUBLE_EQ(NumericValue(c.text), c.value) << c.text;
    }
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(2.4999), 2);
    EXPECT_EQ(RoundToInt(1e300), INT_MAX);
    EXPECT_EQ(RoundToInt(-1e300), INT_MIN);
}

class SettingsFiles : public ::testing::Test {
protected:
    QString write(const char* name, const QByteArray& bytes) {
        const QString path = dir.path() + "/" + name;
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(SettingsFiles, SetupIniIsWrittenExactlyAndReadBack) {
    const QString path = dir.path() + "/setup.ini";
    ASSERT_TRUE(writeSetupIni(path, "D:\\Converted", 2));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("\"\"\r\n\"\"\r\n\"\"\r\n\"D:\\Converted\"\r\n\"2\"\r\n"));

    ASSERT_TRUE(writeSetupIni(path, "/home/me/Ausgabe, Bücher", 9));
    const ConverterSettingsState state =
        LoadSettings(path, dir.path() + "/none.ini", "/app/output", FormatCount);
    EXPECT_EQ(state.outputFolder, "/home/me/Ausgabe, Bücher");
    EXPECT_EQ(state.formatIndex, 9);
    EXPECT_EQ(state.finishSoundOff, 0);
}

TEST_F(SettingsFiles, BrokenSetupFilesChangeOnlyWhatTheyCan) {
    struct Case {
        const char* content;
        const char* folder;
        int format; // -2: no selection made
    };
    for (const Case& c :
         {Case{"", "/app/output", -2}, Case{"\"\"\r\n\"\"\r\n\"\"\r\n", "/app/output", -2},
          Case{"\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"3\"\r\n", "/app/output", 3},
          Case{"\"\"\r\n\"\"\r\n\"\"\r\n\"/out\"\r\n\"abc\"\r\n", "/out", -2},
          Case{"\"\"\r\n\"\"\r\n\"\"\r\n\"/out\"\r\n\"12\"\r\n", "/out", -2},
          Case{"\"\"\r\n\"\"\r\n\"\"\r\n\"/out\"\r\n\"-1\"\r\n", "/out", -1},
          Case{"\"\"\n\"\"\n\"\"\n\"/unix lines\"\n\"8\"\n", "/unix lines", 8},
          Case{"\"\"\r\n\"\"\r\n\"\"\r\n\"/never closed\r\n", "/never closed", -2}}) {
        const QString path = write("setup.ini", c.content);
        const ConverterSettingsState s =
            LoadSettings(path, dir.path() + "/none", "/app/output", FormatCount);
        EXPECT_EQ(s.outputFolder, QString(c.folder)) << c.content;
        EXPECT_EQ(s.formatIndex.value_or(-2), c.format) << c.content;
    }
    const ConverterSettingsState missing =
        LoadSettings(dir.path() + "/missing.ini", "", "/app/output", FormatCount);
    EXPECT_EQ(missing.outputFolder, "/app/output");
    EXPECT_FALSE(missing.formatIndex);
}

TEST_F(SettingsFiles, OptionsIniSoundSwitch) {
    struct Case {
        const char* content;
        int value;
    };
    for (const Case& c :
         {Case{"0\r\n", 0}, Case{"1\r\n", 1}, Case{"0.5\r\n", 0}, Case{"1.5\r\n", 2},
          Case{"abc\r\n", 0}, Case{"70000\r\n", 0}, Case{"\"1\"\r\n", 1}, Case{"1,0\r\n", 1},
          Case{"-32768", -32768}, Case{"", 0}}) {
        EXPECT_EQ(readFinishSoundOff(write("options.ini", c.content)), c.value) << c.content;
    }
    EXPECT_EQ(readFinishSoundOff(dir.path() + "/missing.ini"), 0);
}

TEST_F(SettingsFiles, OptionsIniRecognitionSwitchIsReadFromItsOwnLine) {
    struct Case {
        const char* content;
        bool on;
    };
    for (const Case& c :
         {// Files of versions that knew only the sound switch: on.
          Case{"", true}, Case{"0\r\n", true}, Case{"1\r\n", true}, Case{"1,0\r\n", true},
          Case{"1\r\n0\r\n", true},
          // The switch's line, wherever it stands after the first line.
          Case{"1\r\nTextRecognition=0\r\n", false},
          Case{"0\r\nremark\r\n textrecognition = 0\n", false},
          Case{"0\r\nTextRecognition=1\r\n", true},
          Case{"0\r\nTextRecognition=0\r\nTextRecognition=1\r\n", false},
          // The first line is the sound switch's, whatever it holds; an unreadable value
          // keeps the default.
          Case{"TextRecognition=0\r\n", true}, Case{"0\r\nTextRecognition=\r\n", true},
          Case{"0\r\nTextRecognition=off\r\n", true}}) {
        EXPECT_EQ(readTextRecognition(write("options.ini", c.content)), c.on) << c.content;
    }
    EXPECT_TRUE(readTextRecognition(dir.path() + "/missing.ini"));
}

// Writing the recognition switch keeps the sound switch's line byte for byte, so the sound
// reads as before in this version and in older ones; writing the sound switch as before keeps
// the recognition line.
TEST_F(SettingsFiles, OptionsIniKeepsBothSwitchesWhenEitherIsWritten) {
    for (const char* first : {"0", "1", "1.5 ", "\"1\"", "1,0", "abc", "70000", "-32768"}) {
        const QByteArray line = QByteArray(first) + "\r\n";
        const QString path = write("options.ini", line);
        const int sound = readFinishSoundOff(path);
        ASSERT_TRUE(writeTextRecognition(path, false));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), line + "TextRecognition=0\r\n");
        EXPECT_EQ(readFinishSoundOff(path), sound) << first;
        EXPECT_FALSE(readTextRecognition(path)) << first;
    }

    const QString path = write("options.ini", "1\r\nremark kept\r\nTextRecognition=1");
    ASSERT_TRUE(writeTextRecognition(path, false));
    ASSERT_TRUE(writeFinishSoundOff(path, 0));
    auto content = [&path] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    };
    EXPECT_EQ(content(), "0\r\nremark kept\r\nTextRecognition=0\r\n");
    EXPECT_FALSE(readTextRecognition(path));
    ASSERT_TRUE(writeTextRecognition(path, true));
    EXPECT_EQ(content(), "0\r\nremark kept\r\nTextRecognition=1\r\n");
    const ConverterSettingsState state =
        LoadSettings(dir.path() + "/none.ini", path, "/app/output", FormatCount);
    EXPECT_EQ(state.finishSoundOff, 0);
    EXPECT_TRUE(state.textRecognition);

    // Later duplicates go; a file without a line end gets its first line ended.
    write("options.ini", "1\r\nTextRecognition=1\r\nx\r\nTextRecognition=0\r\n");
    ASSERT_TRUE(writeTextRecognition(path, false));
    EXPECT_EQ(content(), "1\r\nTextRecognition=0\r\nx\r\n");
    write("options.ini", "1");
    ASSERT_TRUE(writeTextRecognition(path, false));
    EXPECT_EQ(content(), "1\r\nTextRecognition=0\r\n");

    // No file yet: the sound stays on, as without the file.
    const QString fresh = dir.path() + "/fresh.ini";
    ASSERT_TRUE(writeTextRecognition(fresh, false));
    EXPECT_EQ(readFinishSoundOff(fresh), 0);
    EXPECT_FALSE(
        LoadSettings(dir.path() + "/none.ini", fresh, "/app/output", FormatCount).textRecognition);
    EXPECT_TRUE(
        LoadSettings(dir.path() + "/none.ini", dir.path() + "/none.ini", "/app/output", FormatCount)
            .textRecognition);
}

TEST(Formats, TheTableNamesEveryFormatOnce) {
    QStringList names;
    for (const FormatInfo& info : formatTable()) {
        EXPECT_EQ(formatFromShortName(info.shortName), info.format);
        EXPECT_EQ(formatFromShortName(QString(".") + info.shortName).value_or(Word), info.format);
        names << info.shortName;
    }
    EXPECT_EQ(names.join(' '), "doc rtf txt jpg bmp gif png tif html swf");
    EXPECT_EQ(shortNameList(", "), "doc, rtf, txt, jpg, bmp, gif, png, tif, html, swf");
    EXPECT_EQ(formatFromShortName("JPEG"), Jpeg);
    EXPECT_EQ(formatFromShortName(".tiff"), Tif);
    EXPECT_EQ(formatFromShortName("htm"), Html);
    EXPECT_FALSE(formatFromShortName("pdf"));
    EXPECT_FALSE(formatAt(-1));
    EXPECT_FALSE(formatAt(FormatCount));

    // The export library's type codes and depths of the image formats.
    const int codes[] = {0, 0, 0, 2, 1, 5, 4, 3, 0, 0};
    for (int f = 0; f < FormatCount; ++f) {
        const FormatInfo& info = formatInfo(*formatAt(f));
        EXPECT_EQ(info.imageTypeCode, codes[f]) << info.shortName;
        EXPECT_EQ(isImageFormat(info.format), codes[f] != 0) << info.shortName;
        if (isImageFormat(info.format)) {
            EXPECT_EQ(info.imageColorDepth, info.format == Gif ? 8 : 24);
        }
    }
    EXPECT_TRUE(formatInfo(Html).writesFolder);
    EXPECT_FALSE(formatInfo(Flash).writesFolder);
}

} // namespace
