#include "pdf_append.h"

#include "atomic_file.h"
#include "block_input_source.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QUtil.hh>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

namespace tools {
namespace {

/// Thrown inside this file when an input is not of the kind the update can be made for.
struct NotSimple : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    /// Closes now and returns the errno of a failed close (0 when it went well).
    int close() {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

void writeAll(int fd, const char* data, size_t size, long long offset, const std::string& output) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw pdftox::WriteError(output + ": cannot write: " + std::strerror(errno), errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
}

/// An input file held open while its document is in use.
struct OpenFile {
    Descriptor fd;
    long long size = 0;
    explicit OpenFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
            throw NotSimple(path + " is not a readable regular file");
        }
        size = st.st_size;
    }
};

/// The update as it is written: after the copy of the first file, through a buffer, with the
/// place of each byte in the output known.
class UpdateWriter {
public:
    UpdateWriter(int fd, long long start, const std::string& output)
        : m_fd(fd), m_flushed(start), m_output(output) {
        m_buffer.reserve(capacity);
    }
    long long offset() const { return m_flushed + static_cast<long long>(m_buffer.size()); }
    UpdateWriter& operator<<(const std::string& text) {
        append(text.data(), text.size());
        return *this;
    }
    void append(const char* data, size_t size) {
        if (m_buffer.size() + size > capacity) {
            flush();
        }
        if (size >= capacity) {
            writeAll(m_fd, data, size, m_flushed, m_output);
            m_flushed += static_cast<long long>(size);
        } else {
            m_buffer.append(data, size);
        }
    }
    /// Puts `text` at the output offset `at`, written before or still in the buffer.
    void patch(long long at, const std::string& text) {
        if (at >= m_flushed) {
            m_buffer.replace(static_cast<size_t>(at - m_flushed), text.size(), text);
        } else {
            flush();
            writeAll(m_fd, text.data(), text.size(), at, m_output);
        }
    }
    void flush() {
        writeAll(m_fd, m_buffer.data(), m_buffer.size(), m_flushed, m_output);
        m_flushed += static_cast<long long>(m_buffer.size());
        m_buffer.clear();
    }

private:
    static constexpr size_t capacity = 256 * 1024;
    int m_fd;
    long long m_flushed;
    const std::string& m_output;
    std::string m_buffer;
};

/// Passes a stream's data to the update as qpdf reads it.
class UpdatePipeline : public Pipeline {
public:
    explicit UpdatePipeline(UpdateWriter& writer) : Pipeline("update", nullptr), m_writer(writer) {}
    void write(unsigned char const* data, size_t len) override {
        m_writer.append(reinterpret_cast<const char*>(data), len);
        m_size += len;
    }
    void finish() override {}
    size_t size() const { return m_size; }

private:
    UpdateWriter& m_writer;
    size_t m_size = 0;
};

enum class XrefKind { Table, Stream };

/// Where the newest cross-reference section of a file starts and what kind it is, read from
/// the file's last bytes. Anything after the final %%EOF but line ends, or a startxref that
/// does not point at a section, makes the file one to be joined the full way.
struct Tail {
    long long startxref = 0;
    XrefKind kind = XrefKind::Table;
    bool endsWithNewline = false;
};

Tail readTail(int fd, long long size) {
    const long long span = std::min<long long>(size, 4096);
    std::string tail(static_cast<size_t>(span), '\0');
    if (pread(fd, tail.data(), tail.size(), size - span) != span) {
        throw NotSimple("its end cannot be read");
    }
    size_t end = tail.size();
    while (end > 0 && (tail[end - 1] == '\n' || tail[end - 1] == '\r' || tail[end - 1] == ' ')) {
        --end;
    }
    if (end < 5 || tail.compare(end - 5, 5, "%%EOF") != 0) {
        throw NotSimple("it does not end with %%EOF");
    }
    const size_t keyword = tail.rfind("startxref", end - 5);
    if (keyword == std::string::npos) {
        throw NotSimple("it has no startxref");
    }
    const std::string number = tail.substr(keyword + 9, end - 5 - keyword - 9);
    char* stop = nullptr;
    const long long offset = std::strtoll(number.c_str(), &stop, 10);
    while (stop && (*stop == '\n' || *stop == '\r' || *stop == ' ')) {
        ++stop;
    }
    if (!stop || *stop != '\0' || offset <= 0 || offset >= size) {
        throw NotSimple("its startxref is not a place in the file");
    }
    Tail t;
    t.startxref = offset;
    t.endsWithNewline = tail.back() == '\n' || tail.back() == '\r';
    char head[64] = {};
    const ssize_t got = pread(fd, head, sizeof head - 1, offset);
    if (got <= 0) {
        throw NotSimple("its cross-reference section cannot be read");
    }
    const std::string start(head, static_cast<size_t>(got));
    if (start.rfind("xref", 0) == 0) {
        t.kind = XrefKind::Table;
    } else {
        // "N G obj": a cross-reference stream (qpdf has already checked that it is one).
        size_t i = 0;
        const auto digits = [&] {
            const size_t from = i;
            while (i < start.size() && std::isdigit(static_cast<unsigned char>(start[i]))) {
                ++i;
            }
            return i > from;
        };
        const auto spaces = [&] {
            const size_t from = i;
            while (i < start.size() && std::isspace(static_cast<unsigned char>(start[i]))) {
                ++i;
            }
            return i > from;
        };
        if (!(digits() && spaces() && digits() && spaces() && start.compare(i, 3, "obj") == 0)) {
            throw NotSimple("its startxref does not point at a cross-reference section");
        }
        t.kind = XrefKind::Stream;
    }
    return t;
}

bool isType(QPDFObjectHandle h, const char* type) {
    if (!h.isDictionary()) {
        return false;
    }
    QPDFObjectHandle t = h.getKey("/Type");
    return t.isName() && t.getName() == type;
}

/// Writes objects of one file under the numbers of the output.
class Serializer {
public:
    explicit Serializer(const std::map<QPDFObjGen, int>& numbers) : m_numbers(numbers) {}

    /// `skip` names a key left out of a dictionary (the /Length of a stream, a page's /Parent).
    void value(QPDFObjectHandle h, std::string& out, const char* skip = nullptr) const {
        if (h.isIndirect()) {
            const auto found = m_numbers.find(h.getObjGen());
            if (found == m_numbers.end()) {
                throw NotSimple("an object was reached that was not collected");
            }
            out += std::to_string(found->second) + " 0 R";
        } else if (h.isArray()) {
            out += '[';
            bool firstItem = true;
            for (const QPDFObjectHandle& item : h.getArrayAsVector()) {
                if (!firstItem) {
                    out += ' ';
                }
                firstItem = false;
                value(item, out);
            }
            out += ']';
        } else if (h.isDictionary()) {
            out += "<<";
            for (const std::string& key : h.getKeys()) {
                if (skip && key == skip) {
                    continue;
                }
                out += QPDFObjectHandle::newName(key).unparse();
                out += ' ';
                value(h.getKey(key), out);
                out += '\n';
            }
            out += ">>";
        } else if (h.isStream()) {
            throw NotSimple("a stream is not an indirect object");
        } else {
            out += h.unparse();
        }
    }

private:
    const std::map<QPDFObjGen, int>& m_numbers;
};

/// One of the files whose pages are added, read whole, with its pages and the objects they
/// use under their numbers in the output.
struct Source {
    std::unique_ptr<OpenFile> file;
    std::unique_ptr<QPDF> pdf;
    std::vector<QPDFObjectHandle> pages;
    std::vector<QPDFObjectHandle> objects; ///< pages and everything they use, in number order
    std::map<QPDFObjGen, int> numbers;
};

/// Collects the pages of `src` and everything they use, each under a new number from `next`
/// on. A page that leads to another page or to a page tree node would come out differently
/// from a full join (qpdf stops at page boundaries there), so it refuses those.
void collect(Source& src, const std::string& path, int& next) {
    QPDFPageDocumentHelper helper(*src.pdf);
    for (QPDFPageObjectHelper& page : helper.getAllPages()) {
        src.pages.push_back(page.getObjectHandle());
    }
    // Attributes inherited from the page tree become the pages' own, as a full join makes them.
    src.pdf->pushInheritedAttributesToPage();
    std::set<QPDFObjGen> pageSet;
    for (const QPDFObjectHandle& page : src.pages) {
        if (!page.isIndirect() || !pageSet.insert(page.getObjGen()).second) {
            throw NotSimple(path + " lists a page twice");
        }
    }
    for (QPDFObjectHandle page : src.pages) {
        const QPDFObjGen own = page.getObjGen();
        std::vector<QPDFObjectHandle> queue;
        const auto reach = [&](QPDFObjectHandle h, const auto& self) -> void {
            if (h.isIndirect()) {
                const QPDFObjGen og = h.getObjGen();
                if (src.numbers.count(og)) {
                    return;
                }
                if (og != own && (pageSet.count(og) || isType(h, "/Page"))) {
                    throw NotSimple(path + ": a page refers to another page");
                }
                if (isType(h, "/Pages")) {
                    throw NotSimple(path + ": a page refers to the page tree");
                }
                src.numbers[og] = next++;
                src.objects.push_back(h);
                queue.push_back(h);
                return;
            }
            if (h.isArray()) {
                for (const QPDFObjectHandle& item : h.getArrayAsVector()) {
                    self(item, self);
                }
            } else if (h.isDictionary()) {
                for (const auto& [key, item] : h.getDictAsMap()) {
                    self(item, self);
                }
            }
        };
        reach(page, reach);
        while (!queue.empty()) {
            QPDFObjectHandle h = queue.back();
            queue.pop_back();
            if (h.isStream()) {
                QPDFObjectHandle dict = h.getDict();
                if (dict.hasKey("/F")) {
                    throw NotSimple(path + ": a stream's data is in another file");
                }
                for (const std::string& key : dict.getKeys()) {
                    if (key != "/Length") {
                        reach(dict.getKey(key), reach);
                    }
                }
            } else if (h.isDictionary()) {
                for (const std::string& key : h.getKeys()) {
                    if (!(h.getObjGen() == own && key == "/Parent")) {
                        reach(h.getKey(key), reach);
                    }
                }
            } else if (h.isArray()) {
                for (const QPDFObjectHandle& item : h.getArrayAsVector()) {
                    reach(item, reach);
                }
            }
        }
    }
}

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string freshId() {
    unsigned char raw[16];
    QUtil::initializeWithRandomBytes(raw, sizeof raw);
    return "<" + hexOf(std::string(reinterpret_cast<char*>(raw), sizeof raw)) + ">";
}

/// Copies the first `size` bytes of `from` into the empty file `to`: a clone of the blocks
/// where the file system shares them, a copy inside the kernel where it can, a plain copy
/// otherwise.
void copyFile(int from, int to, long long size, const std::string& output) {
    if (ioctl(to, FICLONE, from) == 0) {
        return;
    }
    off_t in = 0;
    off_t out = 0;
    while (in < size) {
        const ssize_t n = copy_file_range(from, &in, to, &out, static_cast<size_t>(size - in), 0);
        if (n > 0) {
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                      errno == EBADF)) {
            break; // no kernel copy between these two files: the plain copy below
        }
        if (n == 0) {
            // The first file changed under the join: the full join reads it afresh.
            throw NotSimple("the first file got shorter while it was copied");
        }
        throw pdftox::WriteError(output + ": cannot write: " + std::strerror(errno), errno);
    }
    std::vector<char> buffer(in < size ? 1 << 20 : 0);
    while (in < size) {
        const ssize_t n = pread(from, buffer.data(),
                                static_cast<size_t>(std::min<long long>(
                                    size - in, static_cast<long long>(buffer.size()))),
                                in);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw NotSimple("the first file cannot be read back");
        }
        writeAll(to, buffer.data(), static_cast<size_t>(n), out, output);
        in += n;
        out += n;
    }
}

/// One object of the update: its number, generation and place in the output.
struct Entry {
    int number;
    int generation;
    long long offset;
};

std::string xrefTable(std::vector<Entry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.number < b.number; });
    std::string out = "xref\n";
    for (size_t i = 0; i < entries.size();) {
        size_t j = i + 1;
        while (j < entries.size() && entries[j].number == entries[j - 1].number + 1) {
            ++j;
        }
        out += std::to_string(entries[i].number) + " " + std::to_string(j - i) + "\n";
        for (; i < j; ++i) {
            char line[32];
            std::snprintf(line, sizeof line, "%010lld %05d n \n", entries[i].offset,
                          entries[i].generation);
            out += line;
        }
    }
    return out;
}

/// The data and /Index of a cross-reference stream with fields of 1, `width` and 2 bytes.
std::pair<std::string, std::string> xrefStreamData(std::vector<Entry> entries, int width) {
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.number < b.number; });
    std::string data;
    std::string index;
    for (size_t i = 0; i < entries.size();) {
        size_t j = i + 1;
        while (j < entries.size() && entries[j].number == entries[j - 1].number + 1) {
            ++j;
        }
        index += (index.empty() ? "" : " ") + std::to_string(entries[i].number) + " " +
                 std::to_string(j - i);
        for (; i < j; ++i) {
            data += char(1);
            for (int b = width - 1; b >= 0; --b) {
                data += char((entries[i].offset >> (8 * b)) & 0xFF);
            }
            data += char((entries[i].generation >> 8) & 0xFF);
            data += char(entries[i].generation & 0xFF);
        }
    }
    return {data, index};
}

bool appendOrRefuse(const std::string& first, const std::vector<std::string>& others,
                    const std::string& output) {
    OpenFile file(first);
    const long long size = file.size;
    const Tail tail = readTail(file.fd.get(), size);

    // The first file is read through its cross-reference sections, page tree and page
    // dictionaries only: its pages' streams, nearly all of its bytes, are never loaded.
    QPDF base;
    base.setSuppressWarnings(true);
    base.setAttemptRecovery(false);
    try {
        base.processInputSource(std::make_shared<BlockInputSource>(first, file.fd.get(), size,
                                                                   BlockInputSource::smallBlocks));
    } catch (const std::exception& e) {
        throw NotSimple(first + " does not read cleanly");
    }
    QPDFObjectHandle trailer = base.getTrailer();
    if (base.isEncrypted() || trailer.hasKey("/Encrypt")) {
        throw NotSimple(first + " is encrypted");
    }
    if (trailer.hasKey("/XRefStm")) {
        throw NotSimple(first + " has cross-references of both kinds");
    }
    if (base.isLinearized()) {
        throw NotSimple(first + " is linearized");
    }
    QPDFObjectHandle catalog = base.getRoot();
    QPDFObjectHandle tree = catalog.getKey("/Pages");
    if (!catalog.isIndirect() || !tree.isIndirect() || !isType(tree, "/Pages")) {
        throw NotSimple(first + " has no page tree");
    }
    for (const std::string& key : tree.getKeys()) {
        if (key != "/Type" && key != "/Kids" && key != "/Count") {
            // Inherited attributes would pass to the added pages; anything else is doubtful.
            throw NotSimple(first + ": its page tree root has " + key);
        }
    }
    QPDFObjectHandle kids = tree.getKey("/Kids");
    QPDFObjectHandle count = tree.getKey("/Count");
    if (!kids.isArray() || !count.isInteger() || count.getIntValue() != kids.getArrayNItems()) {
        throw NotSimple(first + ": its page tree root does not count its kids");
    }
    std::vector<QPDFObjGen> basePages;
    std::set<QPDFObjGen> seen;
    for (QPDFObjectHandle kid : kids.getArrayAsVector()) {
        if (!kid.isIndirect() || !isType(kid, "/Page") || !seen.insert(kid.getObjGen()).second) {
            throw NotSimple(first + ": its page tree is not a flat list of distinct pages");
        }
        QPDFObjectHandle parent = kid.getKey("/Parent");
        if (!parent.isIndirect() || parent.getObjGen() != tree.getObjGen()) {
            throw NotSimple(first + ": a page does not name the root as its parent");
        }
        // Annotations and article beads may lead to other pages, which a full join handles
        // in its own way.
        if (kid.hasKey("/Annots") || kid.hasKey("/B")) {
            throw NotSimple(first + ": a page has annotations");
        }
        basePages.push_back(kid.getObjGen());
    }

    int next = 1;
    if (trailer.getKey("/Size").isInteger()) {
        next = static_cast<int>(std::max<long long>(next, trailer.getKey("/Size").getIntValue()));
    }
    for (const auto& [og, entry] : base.getXRefTable()) {
        next = std::max(next, og.getObj() + 1);
    }

    std::vector<std::unique_ptr<Source>> sources;
    for (const std::string& path : others) {
        auto src = std::make_unique<Source>();
        src->file = std::make_unique<OpenFile>(path);
        src->pdf = std::make_unique<QPDF>();
        src->pdf->setSuppressWarnings(true);
        src->pdf->setAttemptRecovery(false);
        try {
            src->pdf->processInputSource(
                std::make_shared<BlockInputSource>(path, src->file->fd.get(), src->file->size));
        } catch (const std::exception&) {
            throw NotSimple(path + " does not read cleanly");
        }
        if (src->pdf->isEncrypted()) {
            throw NotSimple(path + " is encrypted");
        }
        collect(*src, path, next);
        sources.push_back(std::move(src));
    }
    const auto clean = [&] {
        if (base.anyWarnings()) {
            throw NotSimple(first + " does not read cleanly");
        }
        for (size_t i = 0; i < sources.size(); ++i) {
            if (sources[i]->pdf->anyWarnings()) {
                throw NotSimple(others[i] + " does not read cleanly");
            }
        }
    };
    clean();

    pdftox::AtomicFile out(output);
    Descriptor target(::open(out.tempPath().c_str(), O_WRONLY | O_CLOEXEC));
    if (target.get() < 0) {
        throw pdftox::WriteError(output + ": cannot write: " + std::strerror(errno), errno);
    }
    copyFile(file.fd.get(), target.get(), size, output);

    // The update, written after the first file's bytes.
    UpdateWriter w(target.get(), size, output);
    if (!tail.endsWithNewline) {
        w << "\n";
    }
    std::vector<Entry> entries;
    const auto begin = [&](int number, int generation) {
        entries.push_back({number, generation, w.offset()});
        w << std::to_string(number) + " " + std::to_string(generation) + " obj\n";
    };
    const std::string treeRef = std::to_string(tree.getObjGen().getObj()) + " " +
                                std::to_string(tree.getObjGen().getGen()) + " R";
    std::vector<int> newPages;
    std::string text;
    for (const auto& src : sources) {
        const Serializer serializer(src->numbers);
        std::set<QPDFObjGen> pageSet;
        for (const QPDFObjectHandle& page : src->pages) {
            pageSet.insert(page.getObjGen());
            newPages.push_back(src->numbers.at(page.getObjGen()));
        }
        for (QPDFObjectHandle h : src->objects) {
            begin(src->numbers.at(h.getObjGen()), 0);
            text.clear();
            if (h.isStream()) {
                // The data passes unchanged; its length goes into the room left for it.
                serializer.value(h.getDict(), text, "/Length");
                text.resize(text.size() - 2); // ">>"
                text += "/Length ";
                w << text;
                const long long lengthAt = w.offset();
                w << std::string(20, ' ') + ">>\nstream\n";
                UpdatePipeline pipe(w);
                bool filtered = false;
                if (!h.pipeStreamData(&pipe, &filtered, 0, qpdf_dl_none)) {
                    throw NotSimple("a stream of " + src->pdf->getFilename() + " cannot be read");
                }
                w.patch(lengthAt, std::to_string(pipe.size()));
                w << "\nendstream\nendobj\n";
                continue;
            }
            if (pageSet.count(h.getObjGen())) {
                serializer.value(h.shallowCopy(), text, "/Parent");
                text.resize(text.size() - 2);
                text += "/Parent " + treeRef + ">>";
            } else {
                // The object's content, never a reference to itself.
                serializer.value(h.shallowCopy(), text);
            }
            w << text + "\nendobj\n";
        }
    }
    clean();

    // The page tree root again, with the new pages after the old.
    begin(tree.getObjGen().getObj(), tree.getObjGen().getGen());
    text =
        "<</Type /Pages /Count " + std::to_string(basePages.size() + newPages.size()) + " /Kids [";
    size_t onLine = 0;
    const auto kid = [&](const std::string& ref) {
        text += ++onLine % 10 == 0 ? '\n' : ' ';
        text += ref;
    };
    for (const QPDFObjGen& og : basePages) {
        kid(std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " R");
    }
    for (const int number : newPages) {
        kid(std::to_string(number) + " 0 R");
    }
    w << text + "]>>\nendobj\n";

    // A full join writes a catalog holding only the page tree; so does this one.
    const std::set<std::string> catalogKeys = [&] {
        const auto keys = catalog.getKeys();
        return std::set<std::string>(keys.begin(), keys.end());
    }();
    if (catalogKeys != std::set<std::string>{"/Type", "/Pages"} || !isType(catalog, "/Catalog")) {
        begin(catalog.getObjGen().getObj(), catalog.getObjGen().getGen());
        w << "<</Type /Catalog /Pages " + treeRef + ">>\nendobj\n";
    }

    // The first identifier names the document from its first version on; the second this one.
    QPDFObjectHandle oldId = trailer.getKey("/ID");
    const std::string id =
        "[" +
        (oldId.isArray() && oldId.getArrayNItems() == 2 && oldId.getArrayItem(0).isString()
             ? "<" + hexOf(oldId.getArrayItem(0).getStringValue()) + ">"
             : freshId()) +
        " " + freshId() + "]";
    const std::string rootRef = std::to_string(catalog.getObjGen().getObj()) + " " +
                                std::to_string(catalog.getObjGen().getGen()) + " R";
    const long long xrefOffset = w.offset();
    if (tail.kind == XrefKind::Table) {
        w << xrefTable(entries);
        w << "trailer\n<</Size " + std::to_string(next) + " /Root " + rootRef + " /Prev " +
                 std::to_string(tail.startxref) + " /ID " + id + ">>\n";
    } else {
        const int self = next++;
        entries.push_back({self, 0, xrefOffset});
        int width = 4;
        while (width < 8 && (xrefOffset >> (8 * width)) != 0) {
            ++width;
        }
        const auto [data, index] = xrefStreamData(entries, width);
        w << std::to_string(self) + " 0 obj\n<</Type /XRef /Size " + std::to_string(next) +
                 " /Index [" + index + "] /W [1 " + std::to_string(width) + " 2] /Root " + rootRef +
                 " /Prev " + std::to_string(tail.startxref) + " /ID " + id + " /Length " +
                 std::to_string(data.size()) + ">>\nstream\n" + data + "\nendstream\nendobj\n";
    }
    w << "startxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
    w.flush();
    if (const int error = target.close(); error != 0) {
        throw pdftox::WriteError(output + ": cannot write: " + std::strerror(error), error);
    }
    out.commit();
    return true;
}

} // namespace

bool appendPages(const std::string& first, const std::vector<std::string>& others,
                 const std::string& output, std::string* whyNot) {
    try {
        return appendOrRefuse(first, others, output);
    } catch (const NotSimple& e) {
        if (whyNot) {
            *whyNot = e.what();
        }
        return false;
    } catch (const pdftox::WriteError&) {
        throw;
    } catch (const std::exception& e) {
        // Reading an input failed in a way not foreseen above: the full join reads it again
        // and reports what is wrong, if anything.
        if (whyNot) {
            *whyNot = e.what();
        }
        return false;
    }
}

} // namespace tools
