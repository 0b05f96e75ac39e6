#include "pdf_append.h"

#include "atomic_file.h"
#include "plain_pdf.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace tools {
namespace {

using plain::NotPlain;
using plain::Ref;
using plain::Value;

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
            throw plain::NotPlain("the first file got shorter while it was copied");
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
            throw plain::NotPlain("the first file cannot be read back");
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

std::string freshId() {
    unsigned char raw[16] = {};
    size_t got = 0;
    while (got < sizeof raw) {
        const ssize_t n = getrandom(raw + got, sizeof raw - got, 0);
        if (n < 0 && errno != EINTR) {
            throw NotPlain("no random bytes for the document's identifier");
        }
        got += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return "<" + hexOf(std::string(reinterpret_cast<char*>(raw), sizeof raw)) + ">";
}

std::string refText(Ref r) {
    return std::to_string(r.number) + " " + std::to_string(r.generation) + " R";
}

/// One of the files whose pages are added: its pages (with what they inherit from the page
/// tree made their own, as a full join makes them) and the objects they use, each under its
/// number in the output.
struct Source {
    std::unique_ptr<plain::File> file;
    std::vector<Ref> pages;
    std::map<Ref, Value> pageValues;
    std::vector<Ref> objects; ///< pages and everything they use, in the order numbered
    std::map<Ref, int> numbers;
};

/// Walks the page tree below `node`, collecting the pages in order.
void walkTree(Source& src, Ref node, std::map<std::string, Value> inherited, std::set<Ref>& seen,
              int depth) {
    const std::string& path = src.file->path();
    if (depth > 32 || !seen.insert(node).second) {
        throw NotPlain(path + ": its page tree is not a tree");
    }
    const plain::Object o = src.file->object(node);
    if (o.stream || !o.value.isDict()) {
        throw NotPlain(path + ": its page tree holds something that is not a page");
    }
    static const char* const inheritable[] = {"Resources", "MediaBox", "CropBox", "Rotate"};
    if (o.value.isType("Page")) {
        Value page = o.value;
        for (const char* key : inheritable) {
            if (!page.get(key) && inherited.count(key)) {
                page.entries.emplace_back(key, inherited[key]);
            }
        }
        src.pages.push_back(node);
        src.pageValues[node] = std::move(page);
        return;
    }
    if (!o.value.isType("Pages")) {
        throw NotPlain(path + ": its page tree holds something that is not a page");
    }
    for (const char* key : inheritable) {
        if (const Value* v = o.value.get(key)) {
            inherited[key] = *v;
        }
    }
    const Value* kids = o.value.get("Kids");
    if (!kids || kids->kind != Value::Kind::Array) {
        throw NotPlain(path + ": a page tree node has no list of kids");
    }
    for (const Value& kid : kids->items) {
        if (!kid.isRef()) {
            throw NotPlain(path + ": a page is not an indirect object");
        }
        walkTree(src, kid.ref, inherited, seen, depth + 1);
    }
}

/// Reads `path`, collects its pages and everything they use, each under a new number from
/// `next` on. A page that leads to another page or to a page tree node would come out
/// differently from a full join (which stops at page boundaries there), so it refuses those.
std::unique_ptr<Source> collect(const std::string& path, int& next) {
    auto src = std::make_unique<Source>();
    src->file = std::make_unique<plain::File>(path);
    const plain::File& file = *src->file;
    if (file.trailer().get("Encrypt")) {
        throw NotPlain(path + " is encrypted");
    }
    const Value* root = file.trailer().get("Root");
    const Value catalog = root && root->isRef() ? file.resolve(*root) : Value{};
    const Value* tree = catalog.get("Pages");
    if (!tree || !tree->isRef()) {
        throw NotPlain(path + " has no page tree");
    }
    std::set<Ref> treeNodes;
    walkTree(*src, tree->ref, {}, treeNodes, 0);
    const std::set<Ref> pageSet(src->pages.begin(), src->pages.end());
    if (pageSet.size() != src->pages.size()) {
        throw NotPlain(path + " lists a page twice");
    }
    for (const Ref page : pageSet) {
        treeNodes.erase(page); // the walk's record of every node, pages included
    }

    for (const Ref page : src->pages) {
        std::vector<Ref> queue;
        const auto reach = [&](const Value& v, const auto& self) -> void {
            if (v.isRef()) {
                if (src->numbers.count(v.ref)) {
                    return;
                }
                if (v.ref != page && pageSet.count(v.ref)) {
                    throw NotPlain(path + ": a page refers to another page");
                }
                if (treeNodes.count(v.ref)) {
                    throw NotPlain(path + ": a page refers to the page tree");
                }
                src->numbers[v.ref] = next++;
                src->objects.push_back(v.ref);
                queue.push_back(v.ref);
                return;
            }
            for (const Value& item : v.items) {
                self(item, self);
            }
            for (const auto& [key, item] : v.entries) {
                self(item, self);
            }
        };
        Value start;
        start.kind = Value::Kind::Ref;
        start.ref = page;
        reach(start, reach);
        while (!queue.empty()) {
            const Ref r = queue.back();
            queue.pop_back();
            if (r == page) {
                for (const auto& [key, item] : src->pageValues.at(page).entries) {
                    if (key != "Parent") {
                        reach(item, reach);
                    }
                }
                continue;
            }
            const plain::Object o = file.object(r);
            if (o.value.isType("Page") || o.value.isType("Pages")) {
                throw NotPlain(path + ": a page refers to another page");
            }
            if (o.stream && o.value.get("F")) {
                throw NotPlain(path + ": a stream's data is in another file");
            }
            for (const auto& [key, item] : o.value.entries) {
                if (!(o.stream && key == "Length")) {
                    reach(item, reach);
                }
            }
            for (const Value& item : o.value.items) {
                reach(item, reach);
            }
        }
    }
    return src;
}

/// The first file's page tree: a flat list of distinct pages under a root that passes nothing
/// down, so that pages added to the list inherit nothing they did not have.
struct BaseTree {
    Value catalog;
    Ref catalogRef;
    Ref treeRef;
    std::vector<Ref> pages;
};

BaseTree readBase(const plain::File& base) {
    const std::string& first = base.path();
    if (base.linearized()) {
        throw NotPlain(first + " is linearized");
    }
    if (base.trailer().get("Encrypt")) {
        throw NotPlain(first + " is encrypted");
    }
    BaseTree t;
    const Value* root = base.trailer().get("Root");
    if (!root || !root->isRef()) {
        throw NotPlain(first + " has no catalog");
    }
    t.catalogRef = root->ref;
    t.catalog = base.resolve(*root);
    const Value* treeRef = t.catalog.get("Pages");
    if (!treeRef || !treeRef->isRef()) {
        throw NotPlain(first + " has no page tree");
    }
    t.treeRef = treeRef->ref;
    const Value tree = base.resolve(*treeRef);
    if (!tree.isType("Pages")) {
        throw NotPlain(first + " has no page tree");
    }
    for (const auto& [key, item] : tree.entries) {
        if (key != "Type" && key != "Kids" && key != "Count") {
            // Inherited attributes would pass to the added pages; anything else is doubtful.
            throw NotPlain(first + ": its page tree root has /" + key);
        }
    }
    const Value* kids = tree.get("Kids");
    const Value* count = tree.get("Count");
    if (!kids || kids->kind != Value::Kind::Array || !count || !count->isInteger() ||
        count->integer() != static_cast<long long>(kids->items.size())) {
        throw NotPlain(first + ": its page tree root does not count its kids");
    }
    std::set<Ref> seen;
    for (const Value& kid : kids->items) {
        if (!kid.isRef() || !seen.insert(kid.ref).second) {
            throw NotPlain(first + ": its page tree is not a flat list of distinct pages");
        }
        const Value page = base.resolve(kid);
        if (!page.isType("Page")) {
            throw NotPlain(first + ": its page tree is not a flat list of distinct pages");
        }
        const Value* parent = page.get("Parent");
        if (!parent || !parent->isRef() || parent->ref != t.treeRef) {
            throw NotPlain(first + ": a page does not name the root as its parent");
        }
        // Annotations and article beads may lead to other pages, which a full join handles
        // in its own way.
        if (page.get("Annots") || page.get("B")) {
            throw NotPlain(first + ": a page has annotations");
        }
        t.pages.push_back(kid.ref);
    }
    return t;
}

/// Where the update goes: a copy of the first file under the output's temporary name, or,
/// when the caller gives the first file up, the first file itself, renamed to the output
/// once the update is whole and cut back to its old length when the update fails.
class Target {
public:
    Target(const plain::File& base, const std::vector<std::unique_ptr<Source>>& sources,
           const std::string& output, bool mayConsumeFirst)
        : m_base(base), m_output(output) {
        if (mayConsumeFirst && canConsume(sources)) {
            m_fd = ::open(base.path().c_str(), O_WRONLY | O_CLOEXEC);
            struct stat opened {};
            struct stat read {};
            if (m_fd >= 0 && fstat(m_fd, &opened) == 0 && fstat(base.descriptor(), &read) == 0 &&
                opened.st_ino == read.st_ino && opened.st_dev == read.st_dev &&
                opened.st_size == base.size()) {
                return;
            }
            if (m_fd >= 0) {
                ::close(m_fd);
            }
        }
        m_copy = std::make_unique<pdftox::AtomicFile>(output);
        m_fd = ::open(m_copy->tempPath().c_str(), O_WRONLY | O_CLOEXEC);
        if (m_fd < 0) {
            throw pdftox::WriteError(output + ": cannot write: " + std::strerror(errno), errno);
        }
        copyFile(base.descriptor(), m_fd, base.size(), output);
    }
    ~Target() {
        if (m_fd >= 0) {
            if (!m_copy) {
                // The update did not finish: the first file gets its old length back.
                static_cast<void>(ftruncate(m_fd, m_base.size()));
            }
            ::close(m_fd);
        }
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    int descriptor() const { return m_fd; }

    void commit() {
        if (!m_copy) {
            if (rename(m_base.path().c_str(), m_output.c_str()) != 0) {
                throw pdftox::WriteError(m_output + ": cannot write: " + std::strerror(errno),
                                         errno);
            }
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) {
            throw pdftox::WriteError(m_output + ": cannot write: " + std::strerror(errno), errno);
        }
        m_copy->commit();
    }

private:
    /// The first file can become the output when it has no other name, lies in the output's
    /// file system and is none of the files whose pages are added.
    bool canConsume(const std::vector<std::unique_ptr<Source>>& sources) const {
        struct stat first {};
        if (fstat(m_base.descriptor(), &first) != 0 || first.st_nlink != 1) {
            return false;
        }
        const size_t slash = m_output.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : m_output.substr(0, slash + 1);
        struct stat outFolder {};
        if (stat(folder.c_str(), &outFolder) != 0 || outFolder.st_dev != first.st_dev) {
            return false;
        }
        for (const auto& src : sources) {
            struct stat other {};
            if (fstat(src->file->descriptor(), &other) != 0 || other.st_ino == first.st_ino) {
                return false;
            }
        }
        return true;
    }

    const plain::File& m_base;
    const std::string& m_output;
    std::unique_ptr<pdftox::AtomicFile> m_copy;
    int m_fd = -1;
};

bool appendOrRefuse(const std::string& first, const std::vector<std::string>& others,
                    const std::string& output, bool mayConsumeFirst) {
    // The first file is read through its cross-reference sections, page tree and page
    // dictionaries only: its pages' streams, nearly all of its bytes, are never loaded.
    const plain::File base(first);
    const BaseTree tree = readBase(base);
    int next = base.nextNumber();
    std::vector<std::unique_ptr<Source>> sources;
    for (const std::string& path : others) {
        sources.push_back(collect(path, next));
    }

    Target target(base, sources, output, mayConsumeFirst);
    // The update, written after the first file's bytes.
    UpdateWriter w(target.descriptor(), base.size(), output);
    if (!base.endsWithNewline()) {
        w << "\n";
    }
    std::vector<Entry> entries;
    const auto begin = [&](int number, int generation) {
        entries.push_back({number, generation, w.offset()});
        w << std::to_string(number) + " " + std::to_string(generation) + " obj\n";
    };
    const std::string treeRef = refText(tree.treeRef);
    std::vector<int> newPages;
    std::string text;
    for (const auto& src : sources) {
        const auto renumber = [&src](Ref r) {
            const auto found = src->numbers.find(r);
            if (found == src->numbers.end()) {
                throw NotPlain("an object was reached that was not collected");
            }
            return std::to_string(found->second) + " 0 R";
        };
        for (const Ref page : src->pages) {
            newPages.push_back(src->numbers.at(page));
        }
        for (const Ref r : src->objects) {
            begin(src->numbers.at(r), 0);
            text.clear();
            const auto page = src->pageValues.find(r);
            if (page != src->pageValues.end()) {
                Value v = page->second;
                std::erase_if(v.entries, [](const auto& e) { return e.first == "Parent"; });
                plain::write(v, text, renumber);
                text.resize(text.size() - 2); // ">>"
                w << text + "/Parent " + treeRef + ">>\nendobj\n";
                continue;
            }
            const plain::Object o = src->file->object(r);
            if (!o.stream) {
                plain::write(o.value, text, renumber);
                w << text + "\nendobj\n";
                continue;
            }
            // The data passes unchanged, with its length written directly.
            Value dict = o.value;
            std::erase_if(dict.entries, [](const auto& e) { return e.first == "Length"; });
            plain::write(dict, text, renumber);
            text.resize(text.size() - 2);
            w << text + "/Length " + std::to_string(o.dataLength) + ">>\nstream\n";
            const std::string data = src->file->streamData(o);
            w.append(data.data(), data.size());
            w << "\nendstream\nendobj\n";
        }
    }

    // The page tree root again, with the new pages after the old.
    begin(tree.treeRef.number, tree.treeRef.generation);
    text =
        "<</Type /Pages /Count " + std::to_string(tree.pages.size() + newPages.size()) + " /Kids [";
    size_t onLine = 0;
    const auto kid = [&](const std::string& ref) {
        text += ++onLine % 10 == 0 ? '\n' : ' ';
        text += ref;
    };
    for (const Ref r : tree.pages) {
        kid(refText(r));
    }
    for (const int number : newPages) {
        kid(std::to_string(number) + " 0 R");
    }
    w << text + "]>>\nendobj\n";

    // A full join writes a catalog holding only the page tree; so does this one.
    std::set<std::string> catalogKeys;
    for (const auto& [key, item] : tree.catalog.entries) {
        catalogKeys.insert(key);
    }
    if (catalogKeys != std::set<std::string>{"Type", "Pages"} || !tree.catalog.isType("Catalog")) {
        begin(tree.catalogRef.number, tree.catalogRef.generation);
        w << "<</Type /Catalog /Pages " + treeRef + ">>\nendobj\n";
    }

    // The first identifier names the document from its first version on; the second this one.
    const Value* oldId = base.trailer().get("ID");
    const bool keepsId = oldId && oldId->kind == Value::Kind::Array && oldId->items.size() == 2 &&
                         oldId->items[0].kind == Value::Kind::String;
    const std::string id =
        "[" + (keepsId ? oldId->items[0].text : freshId()) + " " + freshId() + "]";
    const long long xrefOffset = w.offset();
    w << xrefTable(entries);
    w << "trailer\n<</Size " + std::to_string(next) + " /Root " + refText(tree.catalogRef) +
             " /Prev " + std::to_string(base.startxref()) + " /ID " + id + ">>\n";
    w << "startxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
    w.flush();
    target.commit();
    return true;
}

} // namespace

bool appendPages(const std::string& first, const std::vector<std::string>& others,
                 const std::string& output, FirstFile firstFile, std::string* whyNot) {
    try {
        return appendOrRefuse(first, others, output, firstFile == FirstFile::MayConsume);
    } catch (const NotPlain& e) {
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
