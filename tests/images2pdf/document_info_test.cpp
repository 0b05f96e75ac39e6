// The document information of the image window: PDF dates in real time zones, the settings
// file kept between uses, and the information file the PDF toolkit reads.
#include "images2pdf/document_info.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include "qt_printers.h"
#include <gtest/gtest.h>

#include <ctime>

using namespace images2pdf;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Sets the process's time zone for the scope, as a machine set to that zone has it.
class LocalZone {
public:
    explicit LocalZone(const char* zone)
        : m_old(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone() {
        if (m_had) {
            qputenv("TZ", m_old);
        } else {
            qunsetenv("TZ");
        }
        tzset();
    }

private:
    QByteArray m_old;
    bool m_had;
};

TEST(PdfDate, CarriesTheRealOffsetOfTheLocalTime) {
    const struct {
        const char* zone;
        QDate date;
        QTime time;
        const char* expected;
    } cases[] = {
        {"Europe/Berlin", {2010, 1, 5}, {9, 3, 7}, "D:20100105090307+01'00"},
        {"Europe/Berlin", {2009, 6, 1}, {14, 5, 9}, "D:20090601140509+02'00"}, // summer time
        {"America/New_York", {2010, 1, 5}, {9, 3, 7}, "D:20100105090307-05'00"},
        {"America/Chicago", {2010, 1, 5}, {23, 59, 59}, "D:20100105235959-06'00"},
        {"UTC", {2010, 1, 5}, {0, 0, 0}, "D:20100105000000+00'00"},
        {"Asia/Kolkata", {2010, 1, 5}, {9, 3, 7}, "D:20100105090307+05'30"},
        {"America/St_Johns", {2010, 1, 5}, {9, 3, 7}, "D:20100105090307-03'30"},
    };
    for (const auto& c : cases) {
        LocalZone zone(c.zone);
        EXPECT_EQ(PdfDate(QDateTime(c.date, c.time)), c.expected) << c.zone;
        // The same instant told in another zone keeps its own clock and offset.
        const QDateTime there(c.date, c.time, QTimeZone(c.zone));
        EXPECT_EQ(PdfDate(there), c.expected) << c.zone;
    }

    // Now, on a machine in New York in winter or summer.
    LocalZone zone("America/New_York");
    const QString now = PdfDateNow();
    EXPECT_TRUE(QRegularExpression(R"(^D:\d{14}-0[45]'00$)").match(now).hasMatch())
        << now.toStdString();
    const QDateTime parsed = QDateTime::fromString(now.mid(2, 14), "yyyyMMddHHmmss");
    EXPECT_LE(std::abs(parsed.secsTo(QDateTime::currentDateTime())), 2);
}

TEST(DocumentSettings, KeepFourFieldsFromOneUseToTheNext) {
    QTemporaryDir dir;
    const QString path = dir.filePath("quillsetting.dll");

    // First use: the design texts, and both dates from the clock.
    DocumentInfo first;
    LoadDocumentInfo(path, first);
    EXPECT_EQ(first.title, "New Title");
    EXPECT_EQ(first.author, "Author Name");
    EXPECT_EQ(first.subject, "New Subject");
    EXPECT_EQ(first.keywords, "Quillfox");
    const QRegularExpression date(R"(^D:\d{14}[+-]\d\d'\d\d$)");
    EXPECT_TRUE(date.match(first.creationDate).hasMatch()) << first.creationDate.toStdString();
    EXPECT_TRUE(date.match(first.modifyDate).hasMatch()) << first.modifyDate.toStdString();

    ASSERT_TRUE(SaveDocumentSettings(path, first));
    EXPECT_EQ(readAll(path),
              "\"New Title\"\r\n\"Author Name\"\r\n\"New Subject\"\r\n\"Quillfox\"\r\n");

    // A run with the title My Album: the next load shows it; commas and other letters stay
    // whole, a double quote ends its record.
    first.title = "My Album";
    first.author = "Zoë Müller, Berlin";
    first.subject = "Holiday \"2025\" pictures";
    first.keywords = "";
    ASSERT_TRUE(SaveDocumentSettings(path, first));
    DocumentInfo next;
    LoadDocumentInfo(path, next);
    EXPECT_EQ(next.title, "My Album");
    EXPECT_EQ(next.author, "Zoë Müller, Berlin");
    EXPECT_EQ(next.subject, "Holiday ");
    EXPECT_EQ(next.keywords, "");
    EXPECT_TRUE(readAll(path).contains("\"Holiday \"2025\" pictures\"\r\n")) << "saved whole";

    // A short or hand-made file: what it has is read, the rest stays.
    QFile shortFile(path);
    ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly));
    shortFile.write("\"Scans\"\nplain text, more\n");
    shortFile.close();
    DocumentInfo partial;
    ReadDocumentSettings(path, partial);
    EXPECT_EQ(partial.title, "Scans");
    EXPECT_EQ(partial.author, "plain text");
    EXPECT_EQ(partial.subject, "New Subject");
    EXPECT_EQ(partial.keywords, "Quillfox");

    // A settings file that cannot be written is reported, and the old one stays.
    EXPECT_FALSE(SaveDocumentSettings(dir.filePath("no such folder/quillsetting.dll"), next));
}

TEST(InfoFile, HoldsTheSixteenLinesWithValuesAsTyped) {
    QTemporaryDir dir;
    DocumentInfo info;
    info.title = "My Album";
    info.author = "";
    info.creationDate = "yesterday, by hand";
    info.modifyDate = "D:20100105090307+01'00";
    info.keywords = "Quillfox";
    const QString path = dir.filePath("info.txt");
    ASSERT_TRUE(WriteInfoFile(path, info));
    EXPECT_EQ(readAll(path), "InfoKey: Title\r\nInfoValue: My Album\r\n"
                             "InfoKey: Author\r\nInfoValue: \r\n"
                             "InfoKey: CreationDate\r\nInfoValue: yesterday, by hand\r\n"
                             "InfoKey: ModDate\r\nInfoValue: D:20100105090307+01'00\r\n"
                             "InfoKey: Subject\r\nInfoValue: New Subject\r\n"
                             "InfoKey: Keywords\r\nInfoValue: Quillfox\r\n"
                             "InfoKey: Creator\r\nInfoValue: Lumadoc\r\n"
                             "InfoKey: Producer\r\nInfoValue: Lumadoc\r\n");
    EXPECT_FALSE(WriteInfoFile(dir.filePath("gone/info.txt"), info));
}

} // namespace
