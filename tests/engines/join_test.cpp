// The pdftk-compatible tool joining as the image assembly runs it: the running file with one
// more page at a time, then the information applied. A join that appends to a copy of the
// running file must give the pages a full join gives, files that every reader opens, and
// must leave the files it cannot handle to the full join.
#include "block_input_source.h"
#include "engine_test_support.h"
#include "pdf_append.h"
#include "photo_pages.h"

#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>

using namespace engine_tests;

namespace {

const std::string app = LUMADOC_APP_DIR;

/// Pages as a full join makes them: qpdf copying every page into an empty document.
void fullJoin(const std::vector<std::string>& inputs, const std::string& out) {
    QPDF joined;
    joined.emptyPDF();
    std::vector<std::unique_ptr<QPDF>> sources;
    for (const std::string& in : inputs) {
        sources.push_back(std::make_unique<QPDF>());
        sources.back()->setSuppressWarnings(true);
        sources.back()->processFile(in.c_str());
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*sources.back()).getAllPages()) {
            QPDFPageDocumentHelper(joined).addPage(page, false);
        }
    }
    QPDFWriter(joined, out.c_str()).write();
}

std::string streamData(QPDFObjectHandle stream) {
    Pl_Buffer buffer("data");
    stream.pipeStreamData(&buffer, 0, qpdf_dl_generalized);
    auto data = buffer.getBufferSharedPointer();
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

/// Whether two objects hold the same content, object numbers, /Parent links and the way
/// streams are compressed aside; `where` tells the first difference.
bool sameContent(QPDFObjectHandle a, QPDFObjectHandle b, std::set<std::string>& seen,
                 std::string& where) {
    if (a.isIndirect() && b.isIndirect() &&
        !seen.insert(a.getObjGen().unparse() + "=" + b.getObjGen().unparse()).second) {
        return true;
    }
    if (a.getTypeCode() != b.getTypeCode()) {
        where = a.unparse() + " against " + b.unparse();
        return false;
    }
    if (a.isStream()) {
        if (streamData(a) != streamData(b)) {
            where = "stream data of " + a.getDict().unparse();
            return false;
        }
        QPDFObjectHandle da = a.getDict().shallowCopy();
        QPDFObjectHandle db = b.getDict().shallowCopy();
        for (const char* key : {"/Length", "/Filter", "/DecodeParms"}) {
            if (a.getDict().getKey("/Filter").isNameAndEquals("/DCTDecode") !=
                b.getDict().getKey("/Filter").isNameAndEquals("/DCTDecode")) {
                where = "filters of " + a.getDict().unparse();
                return false;
            }
            da.removeKey(key);
            db.removeKey(key);
        }
        return sameContent(da, db, seen, where);
    }
    if (a.isDictionary()) {
        std::set<std::string> keys = a.getKeys();
        keys.erase("/Parent");
        std::set<std::string> otherKeys = b.getKeys();
        otherKeys.erase("/Parent");
        if (keys != otherKeys) {
            where = "keys of " + a.unparse();
            return false;
        }
        for (const std::string& key : keys) {
            if (!sameContent(a.getKey(key), b.getKey(key), seen, where)) {
                return false;
            }
        }
        return true;
    }
    if (a.isArray()) {
        if (a.getArrayNItems() != b.getArrayNItems()) {
            where = "items of " + a.unparse();
            return false;
        }
        for (int i = 0; i < a.getArrayNItems(); ++i) {
            if (!sameContent(a.getArrayItem(i), b.getArrayItem(i), seen, where)) {
                return false;
            }
        }
        return true;
    }
    if (a.unparse() != b.unparse()) {
        where = a.unparse() + " against " + b.unparse();
        return false;
    }
    return true;
}

/// Fails the test unless both files have the same pages in the same order.
void expectSamePages(const std::string& file, const std::string& reference) {
    QPDF a;
    a.processFile(file.c_str());
    QPDF b;
    b.processFile(reference.c_str());
    auto pa = QPDFPageDocumentHelper(a).getAllPages();
    auto pb = QPDFPageDocumentHelper(b).getAllPages();
    ASSERT_EQ(pa.size(), pb.size()) << file;
    for (size_t i = 0; i < pa.size(); ++i) {
        std::set<std::string> seen;
        std::string where;
        EXPECT_TRUE(sameContent(pa[i].getObjectHandle(), pb[i].getObjectHandle(), seen, where))
            << file << " page " << i + 1 << ": " << where;
    }
}

/// The raw bytes of the picture that page `index` shows.
std::string pictureOn(const std::string& pdf, int index) {
    QPDF doc;
    doc.processFile(pdf.c_str());
    auto pages = QPDFPageDocumentHelper(doc).getAllPages();
    QPDFObjectHandle image = pages.at(static_cast<size_t>(index))
                                 .getAttribute("/Resources", false)
                                 .getKey("/XObject")
                                 .getKey("/Im0");
    auto data = image.getRawStreamData();
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

int pageCount(const std::string& pdf) {
    QPDF doc;
    doc.processFile(pdf.c_str());
    return static_cast<int>(QPDFPageDocumentHelper(doc).getAllPages().size());
}

bool startsWith(const std::string& whole, const std::string& start) {
    return whole.size() > start.size() && whole.compare(0, start.size(), start) == 0;
}

/// Opens with qpdf --check, poppler and MuPDF; the page count poppler reads.
void expectReadersOpen(const std::string& pdf, int pages) {
    EXPECT_EQ(run("qpdf --check '" + pdf + "' >/dev/null 2>&1"), 0) << pdf;
    const std::string poppler = output("pdfinfo '" + pdf + "' 2>&1");
    EXPECT_TRUE(std::regex_search(poppler, std::regex("Pages: +" + std::to_string(pages) + "\n")))
        << poppler;
    const std::string mupdf = output("mutool info '" + pdf + "' 2>&1");
    EXPECT_NE(mupdf.find("Pages: " + std::to_string(pages)), std::string::npos) << mupdf;
    EXPECT_EQ(mupdf.find("warning"), std::string::npos) << mupdf;
    EXPECT_EQ(mupdf.find("error"), std::string::npos) << mupdf;
}

class PhotoJoin : public ::testing::Test {
protected:
    static constexpr int photos = 5;

    void SetUp() override {
        for (int i = 0; i < photos; ++i) {
            jpegs.push_back(photo_pages::noisyJpeg(64, 48, static_cast<unsigned>(i + 1)));
            photo_pages::writeJpegPage(jpegs.back(), 64, 48, page(i));
        }
        info = dir.file("info.txt");
        std::ofstream(info, std::ios::binary)
            << "InfoBegin\r\nInfoKey: Title\r\nInfoValue: Été 2009\r\n"
            << "InfoBegin\r\nInfoKey: Producer\r\nInfoValue: Lumadoc\r\n";
    }
    std::string page(int i) const { return dir.file(std::to_string(i) + ".pdf"); }
    std::string running(int k) const { return dir.file("tmp" + std::to_string(k) + ".pdf"); }
    int pdftk(const std::string& tail) {
        const ToolResult r = runTool(app + "/pdftk " + tail, dir.file("errors.txt"));
        EXPECT_EQ(r.errors, "") << tail;
        return r.status;
    }
    int join(const std::string& first, const std::string& second, const std::string& out) {
        return pdftk(q(first) + " " + q(second) + " cat output " + q(out) + " dont_ask");
    }
    int updateInfo(const std::string& in, const std::string& out) {
        return pdftk(q(in) + " update_info " + q(info) + " output " + q(out) + " dont_ask");
    }

    TempFolder dir;
    std::vector<std::string> jpegs;
    std::string info;
};

TEST_F(PhotoJoin, ChainAppendsEachPageToTheRunningFile) {
    ASSERT_EQ(run("cp '" + page(0) + "' '" + running(1) + "'"), 0);
    for (int k = 1; k < photos; ++k) {
        const std::string before = readFile(running(k));
        ASSERT_EQ(join(running(k), page(k), running(k + 1)), 0);
        EXPECT_EQ(readFile(running(k)), before) << "the input is left as it was";
        EXPECT_TRUE(startsWith(readFile(running(k + 1)), before))
            << "join " << k << " appended to the running file instead of rewriting it";
        expectReadersOpen(running(k + 1), k + 1);
        for (int i = 0; i <= k; ++i) {
            EXPECT_EQ(pictureOn(running(k + 1), i), jpegs[static_cast<size_t>(i)])
                << "join " << k << ", page " << i + 1;
        }
        std::remove(running(k).c_str());
    }
    for (const std::string& name : listFolder(dir.path())) {
        EXPECT_EQ(name.find(".part-"), std::string::npos) << name;
    }

    // The chain's end with the information, against one join of all pages and qpdf's own.
    const std::string final = dir.file("tmpx.pdf");
    ASSERT_EQ(updateInfo(running(photos), final), 0);
    std::string all;
    std::vector<std::string> inputs;
    for (int i = 0; i < photos; ++i) {
        all += q(page(i)) + " ";
        inputs.push_back(page(i));
    }
    const std::string once = dir.file("once.pdf");
    ASSERT_EQ(pdftk(all + "cat output " + q(once) + " dont_ask"), 0);
    const std::string reference = dir.file("reference.pdf");
    fullJoin(inputs, reference);
    expectSamePages(final, reference);
    expectSamePages(once, reference);
    expectReadersOpen(final, photos);

    QPDF doc;
    doc.processFile(final.c_str());
    QPDFObjectHandle infoDict = doc.getTrailer().getKey("/Info");
    ASSERT_TRUE(infoDict.isDictionary());
    EXPECT_EQ(infoDict.getKey("/Title").getUTF8Value(), "Été 2009");
    EXPECT_EQ(infoDict.getKey("/Producer").getUTF8Value(), "Lumadoc");
    // The last step rewrites the file whole: the superseded page tree roots are gone.
    const std::string bytes = readFile(final);
    EXPECT_EQ(bytes.find("%%EOF"), bytes.rfind("%%EOF"));
    EXPECT_LT(bytes.size(), readFile(reference).size() + 300) << "more than the information";
}

TEST_F(PhotoJoin, RichCatalogsComeOutWithThePageTreeAlone) {
    // A catalog with more than the page tree comes out with the page tree alone, as a full
    // join writes it; names, strings and a stream length given indirectly pass unchanged.
    const std::string rich = dir.file("rich.pdf");
    {
        QPDF doc;
        doc.processFile(page(0).c_str());
        doc.getRoot().replaceKey("/PageMode", QPDFObjectHandle::newName("/UseOutlines"));
        doc.getRoot().replaceKey("/Metadata", doc.newStream("<x:xmpmeta/>"));
        QPDFWriter writer(doc, rich.c_str());
        writer.setObjectStreamMode(qpdf_o_disable);
        writer.write();
    }
    const std::string odd = dir.file("odd names.pdf");
    {
        QPDF doc;
        doc.processFile(page(1).c_str());
        QPDFObjectHandle p = QPDFPageDocumentHelper(doc).getAllPages()[0].getObjectHandle();
        p.replaceKey("/PieceInfo", QPDFObjectHandle::parse(
                                       "<< /A#20B (x \\) \\( \\\\ (nested) é) /C <0a0B> /D [true "
                                       "null -1.5 /#2Fslash] >>"));
        QPDFWriter writer(doc, odd.c_str());
        writer.setObjectStreamMode(qpdf_o_disable);
        writer.setQDFMode(true); // indirect stream lengths, comments
        writer.write();
    }
    ASSERT_NE(readFile(odd).find("%QDF"), std::string::npos);
    const std::string out = dir.file("out.pdf");
    std::string why;
    ASSERT_TRUE(tools::appendPages(rich, {odd, page(2)}, out, tools::FirstFile::Keep, &why)) << why;
    EXPECT_TRUE(startsWith(readFile(out), readFile(rich)));
    expectReadersOpen(out, 3);
    const std::string reference = dir.file("reference.pdf");
    fullJoin({rich, odd, page(2)}, reference);
    expectSamePages(out, reference);
    QPDF doc;
    doc.processFile(out.c_str());
    EXPECT_FALSE(doc.getRoot().hasKey("/Metadata"));
    EXPECT_FALSE(doc.getRoot().hasKey("/PageMode"));
    EXPECT_TRUE(doc.getTrailer().getKey("/Prev").isInteger());
    QPDFObjectHandle piece =
        QPDFPageDocumentHelper(doc).getAllPages()[1].getObjectHandle().getKey("/PieceInfo");
    EXPECT_EQ(piece.getKey("/A B").getStringValue(), "x ) ( \\ (nested) é");
    EXPECT_EQ(piece.getKey("/C").getStringValue(), "\n\x0b");
    EXPECT_EQ(piece.getKey("/D").unparse(), "[ true null -1.5 /#2fslash ]");
}

// The assembly hands its running file over: the join makes it the output without copying it,
// and a join that fails leaves it as it was.
TEST_F(PhotoJoin, AScratchFileGivenUpBecomesTheOutput) {
    ASSERT_EQ(run("cp '" + page(0) + "' '" + running(1) + "'"), 0);
    const std::string before = readFile(running(1));
    std::string why;
    ASSERT_TRUE(
        tools::appendPages(running(1), {page(1)}, running(2), tools::FirstFile::MayConsume, &why))
        << why;
    EXPECT_FALSE(std::ifstream(running(1)).good()) << "the scratch file became the output";
    EXPECT_TRUE(startsWith(readFile(running(2)), before));
    expectReadersOpen(running(2), 2);
    EXPECT_EQ(pictureOn(running(2), 1), jpegs[1]);

    // Through the tool, as the assembly starts it.
    ASSERT_EQ(run("LUMADOC_PDFTK_CONSUME_FIRST=1 " + q(app + "/pdftk") + " " + q(running(2)) + " " +
                  q(page(2)) + " cat output " + q(running(3)) + " dont_ask"),
              0);
    EXPECT_FALSE(std::ifstream(running(2)).good());
    expectReadersOpen(running(3), 3);

    // An output that cannot be written: the scratch file keeps its name and its bytes.
    const std::string kept = readFile(running(3));
    const std::string nowhere = dir.file("no such folder/out.pdf");
    EXPECT_THROW(tools::appendPages(running(3), {page(3)}, nowhere, tools::FirstFile::MayConsume),
                 std::runtime_error);
    EXPECT_EQ(readFile(running(3)), kept);

    // A file with a second name is copied: the other name keeps what it had.
    const std::string linked = dir.file("linked.pdf");
    ASSERT_EQ(run("ln '" + running(3) + "' '" + linked + "'"), 0);
    ASSERT_TRUE(
        tools::appendPages(running(3), {page(3)}, running(4), tools::FirstFile::MayConsume, &why))
        << why;
    EXPECT_EQ(readFile(running(3)), kept);
    EXPECT_EQ(readFile(linked), kept);
    expectReadersOpen(running(4), 4);
}

TEST_F(PhotoJoin, OddOrEncryptedInputsTakeTheFullJoin) {
    struct Case {
        std::string name;
        std::string first;
        std::string second;
        std::string expectedReason;
    };
    const auto edited = [&](const std::string& name, const auto& edit) {
        const std::string path = dir.file(name + ".pdf");
        QPDF doc;
        doc.processFile(page(0).c_str());
        edit(doc);
        QPDFWriter writer(doc, path.c_str());
        writer.setStaticID(true);
        writer.write();
        return path;
    };
    const std::string encrypted = dir.file("encrypted.pdf");
    ASSERT_EQ(run("qpdf --encrypt '' owner 256 -- '" + page(0) + "' '" + encrypted + "'"), 0);
    const std::string packed = dir.file("packed.pdf");
    ASSERT_EQ(run("qpdf --object-streams=generate '" + page(0) + "' '" + packed + "'"), 0);
    const std::string linearized = dir.file("linearized.pdf");
    ASSERT_EQ(run("qpdf --linearize '" + page(0) + "' '" + linearized + "'"), 0);
    const std::string inherited = edited("inherited", [](QPDF& doc) {
        // The box moves up to the root, where it would pass to the appended pages too.
        QPDFObjectHandle p = QPDFPageDocumentHelper(doc).getAllPages()[0].getObjectHandle();
        doc.getRoot().getKey("/Pages").replaceKey("/MediaBox", p.getKey("/MediaBox"));
        p.removeKey("/MediaBox");
    });
    const std::string nested = edited("nested", [](QPDF& doc) {
        QPDFObjectHandle root = doc.getRoot().getKey("/Pages");
        QPDFObjectHandle page = root.getKey("/Kids").getArrayItem(0);
        QPDFObjectHandle middle =
            doc.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Pages /Count 1 /Kids [] >>"));
        middle.getKey("/Kids").appendItem(page);
        middle.replaceKey("/Parent", root);
        page.replaceKey("/Parent", middle);
        root.replaceKey("/Kids", QPDFObjectHandle::newArray({middle}));
    });
    // A key spelled with an escape is the same key: these annotations must be seen.
    const std::string escaped = dir.file("escaped.pdf");
    {
        const std::string marked = edited("marked", [](QPDF& doc) {
            QPDFPageDocumentHelper(doc).getAllPages()[0].getObjectHandle().replaceKey(
                "/XXXXXXXX", QPDFObjectHandle::parse("[]"));
        });
        std::string raw = readFile(marked);
        raw.replace(raw.find("/XXXXXXXX"), 9, "/Ann#6fts");
        std::ofstream(escaped, std::ios::binary) << raw;
    }
    const std::string deep = edited("deep", [](QPDF& doc) {
        QPDFPageDocumentHelper(doc).getAllPages()[0].getObjectHandle().replaceKey(
            "/PieceInfo", QPDFObjectHandle::parse(std::string(200, '[') + std::string(200, ']')));
    });
    const std::string linking = dir.file("linking.pdf");
    {
        // Two pages, the first with a link to the second.
        QPDF doc;
        doc.processFile(page(1).c_str());
        QPDF other;
        other.processFile(page(2).c_str());
        QPDFPageDocumentHelper(doc).addPage(QPDFPageDocumentHelper(other).getAllPages()[0], false);
        auto pages = QPDFPageDocumentHelper(doc).getAllPages();
        QPDFObjectHandle link = QPDFObjectHandle::parse(
            "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /Dest [null /Fit] >>");
        link.getKey("/Dest").setArrayItem(0, pages[1].getObjectHandle());
        pages[0].getObjectHandle().replaceKey("/Annots", QPDFObjectHandle::newArray({link}));
        QPDFWriter(doc, linking.c_str()).write();
    }
    std::string bytes = readFile(page(0));
    const std::string trailing = dir.file("trailing.pdf");
    std::ofstream(trailing, std::ios::binary) << bytes << "garbage after the end\n";
    // The catalog's entry in the cross-reference table two bytes off.
    const std::string damaged = dir.file("damaged.pdf");
    {
        std::smatch root;
        ASSERT_TRUE(std::regex_search(bytes, root, std::regex("/Root (\\d+) 0 R")));
        const size_t entry =
            bytes.find("\n", bytes.rfind("\nxref\n") + 6) + 1 + 20 * std::stoul(root[1].str());
        const std::string offset = std::to_string(std::stoll(bytes.substr(entry, 10)) + 2);
        bytes.replace(entry + 10 - offset.size(), offset.size(), offset);
        std::ofstream(damaged, std::ios::binary) << bytes;
    }

    const std::vector<Case> cases = {
        {"encrypted running file", encrypted, page(1), "encrypted"},
        {"encrypted page", page(1), encrypted, "encrypted"},
        {"linearized", linearized, page(1), "linearized"},
        {"cross-reference stream", packed, page(1), "not a table"},
        {"escaped annotations key", escaped, page(1), "annotations"},
        {"values nested 200 deep", page(1), deep, "nested too deeply"},
        {"cross-reference stream added", page(1), packed, "not a table"},
        {"inherited box", inherited, page(1), "/MediaBox"},
        {"nested tree", nested, page(1), "flat"},
        {"page linking to a page", page(3), linking, "another page"},
        {"bytes after %%EOF", trailing, page(1), "%%EOF"},
        {"damaged cross-references", damaged, page(1), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file("out " + c.name + ".pdf");
        std::string why;
        EXPECT_FALSE(tools::appendPages(c.first, {c.second}, out, tools::FirstFile::Keep, &why));
        EXPECT_NE(why.find(c.expectedReason), std::string::npos) << why;
        EXPECT_FALSE(why.empty());
        EXPECT_FALSE(std::ifstream(out).good()) << "a refused join writes nothing";

        // The tool joins them all the same, the full way.
        ASSERT_EQ(join(c.first, c.second, out), 0);
        EXPECT_FALSE(startsWith(readFile(out), readFile(c.first)));
        const std::string reference = dir.file("reference " + c.name + ".pdf");
        fullJoin({c.first, c.second}, reference);
        expectSamePages(out, reference);
        expectReadersOpen(out, pageCount(reference));
    }
}

TEST_F(PhotoJoin, InheritedAttributesOfAddedPagesAndWriteFailures) {
    // The added file passes its box and resources down from its root: the pages get them.
    const std::string inheriting = dir.file("inheriting.pdf");
    {
        QPDF doc;
        doc.processFile(page(1).c_str());
        QPDFObjectHandle p = QPDFPageDocumentHelper(doc).getAllPages()[0].getObjectHandle();
        QPDFObjectHandle root = doc.getRoot().getKey("/Pages");
        for (const char* key : {"/MediaBox", "/Resources"}) {
            root.replaceKey(key, p.getKey(key));
            p.removeKey(key);
        }
        root.replaceKey("/Rotate", QPDFObjectHandle::newInteger(90));
        QPDFWriter(doc, inheriting.c_str()).write();
    }
    const std::string out = dir.file("out.pdf");
    std::string why;
    ASSERT_TRUE(tools::appendPages(page(0), {inheriting}, out, tools::FirstFile::Keep, &why))
        << why;
    const std::string reference = dir.file("reference.pdf");
    fullJoin({page(0), inheriting}, reference);
    expectSamePages(out, reference);
    expectReadersOpen(out, 2);
    EXPECT_EQ(pictureOn(out, 1), jpegs[1]);

    // An output that cannot be written is a failure, not a fallback, and leaves nothing.
    const std::string nowhere = dir.file("no such folder/out.pdf");
    EXPECT_THROW(tools::appendPages(page(0), {page(1)}, nowhere), std::runtime_error);
    const ToolResult r = runTool(app + "/pdftk " + q(page(0)) + " " + q(page(1)) + " cat output " +
                                     q(nowhere) + " dont_ask",
                                 dir.file("errors.txt"));
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
}

// The running file of a real assembly passes the size up to which the tool parses from memory:
// the last step reads it through blocks of the file, and must read what qpdf reads.
TEST_F(PhotoJoin, LargeFilesAreReadThroughBlocks) {
    std::vector<std::string> inputs;
    for (int i = 0; i < 7; ++i) {
        const std::string jpeg = photo_pages::noisyJpeg(2400, 1800, static_cast<unsigned>(i + 7));
        inputs.push_back(dir.file("big" + std::to_string(i) + ".pdf"));
        photo_pages::writeJpegPage(jpeg, 2400, 1800, inputs.back());
    }
    ASSERT_EQ(run("cp '" + inputs[0] + "' '" + running(1) + "'"), 0);
    for (int k = 1; k < 7; ++k) {
        ASSERT_EQ(join(running(k), inputs[static_cast<size_t>(k)], running(k + 1)), 0);
    }
    ASSERT_GT(readFile(running(7)).size(), 4u << 20);
    const std::string final = dir.file("tmpx.pdf");
    ASSERT_EQ(updateInfo(running(7), final), 0);
    const std::string reference = dir.file("reference.pdf");
    fullJoin(inputs, reference);
    expectSamePages(final, reference);
    expectReadersOpen(final, 7);

    // Every object of files with cross-reference tables and streams, read both ways.
    const std::string packed = dir.file("packed.pdf");
    ASSERT_EQ(run("qpdf --object-streams=generate '" + running(7) + "' '" + packed + "'"), 0);
    for (const std::string& file : {running(7), packed}) {
        QPDF direct;
        direct.processFile(file.c_str());
        QPDF blocks;
        blocks.processInputSource(std::make_shared<tools::BlockInputSource>(file));
        const auto objects = direct.getAllObjects();
        ASSERT_EQ(objects.size(), blocks.getAllObjects().size()) << file;
        for (QPDFObjectHandle o : objects) {
            QPDFObjectHandle other = blocks.getObjectByObjGen(o.getObjGen());
            if (o.isStream()) {
                ASSERT_TRUE(other.isStream());
                auto a = o.getRawStreamData();
                auto b = other.getRawStreamData();
                EXPECT_TRUE(a->getSize() == b->getSize() &&
                            std::memcmp(a->getBuffer(), b->getBuffer(), a->getSize()) == 0)
                    << file << " " << o.getObjGen().unparse();
                EXPECT_EQ(o.getDict().unparse(), other.getDict().unparse());
            } else {
                EXPECT_EQ(o.unparseResolved(), other.unparseResolved()) << file;
            }
        }
        EXPECT_FALSE(blocks.anyWarnings()) << file;
    }
}

} // namespace
