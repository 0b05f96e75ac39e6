#pragma once

#include <compare>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tools::plain {

/// Thrown when a file is not of the plain kind read here. The caller then hands the file to a
/// full PDF library, which reads (or repairs, or refuses) what this reader leaves alone.
struct NotPlain : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Ref {
    int number = 0;
    int generation = 0;
    auto operator<=>(const Ref&) const = default;
};

/// One PDF value. Numbers, strings, booleans and null keep their spelling from the file;
/// names are held decoded (without the slash, `#xx` resolved) so that a key is compared by
/// what it means, and are written encoded again.
struct Value {
    enum class Kind { Null, Bool, Number, Name, String, Array, Dict, Ref };
    Kind kind = Kind::Null;
    std::string text;
    Ref ref;
    std::vector<Value> items;                           ///< an array's items
    std::vector<std::pair<std::string, Value>> entries; ///< a dictionary's entries, in order

    bool isDict() const { return kind == Kind::Dict; }
    bool isRef() const { return kind == Kind::Ref; }
    bool isName(std::string_view name) const { return kind == Kind::Name && text == name; }
    /// An integer number (no point, no exponent).
    bool isInteger() const;
    long long integer() const;
    /// The dictionary's entry under `key` (a name without its slash), or nullptr.
    const Value* get(std::string_view key) const;
    bool isType(std::string_view type) const {
        const Value* t = get("Type");
        return t && t->isName(type);
    }
};

/// An indirect object as it stands in the file: its value (a stream's dictionary for a
/// stream) and, for a stream, where its data lies.
struct Object {
    Value value;
    bool stream = false;
    long long dataOffset = 0;
    long long dataLength = 0;
};

/// A PDF file of the plain kind, read strictly and only as far as it is asked: classic
/// cross-reference tables (chained through /Prev), every object where its table says, with
/// its own number in front, streams of direct or indirect length ending where they say. Any
/// other shape (cross-reference streams, object streams, damage that a reader would have to
/// repair) throws NotPlain; nothing is guessed.
class File {
public:
    /// Opens `path` and reads its cross-reference sections and trailer.
    explicit File(const std::string& path);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    const std::string& path() const { return m_path; }
    int descriptor() const { return m_fd; }
    long long size() const { return m_size; }
    /// Where the newest cross-reference section starts.
    long long startxref() const { return m_startxref; }
    /// Whether the last byte of the file ends a line.
    bool endsWithNewline() const { return m_endsWithNewline; }
    /// The newest trailer dictionary.
    const Value& trailer() const { return m_trailer; }
    /// One more than the highest object number in use.
    int nextNumber() const;
    /// Whether the first kilobyte holds a linearization dictionary.
    bool linearized() const;

    /// The object `ref` names; NotPlain when it is missing or not where its table says.
    Object object(Ref ref) const;
    /// The value `v` stands for: the object it names when it is a reference, else itself.
    Value resolve(const Value& v) const;
    /// The raw bytes of a stream's data.
    std::string streamData(const Object& o) const;

private:
    struct Entry {
        long long offset;
        int generation;
    };
    void readTail();
    /// Reads the table at `at` into the entries that `defined` (numbers that newer sections
    /// settle) leaves open; returns its trailer.
    Value readSection(long long at, std::set<int>& defined);
    std::string bytesAt(long long offset, size_t length) const;

    std::string m_path;
    int m_fd = -1;
    long long m_size = 0;
    long long m_startxref = 0;
    bool m_endsWithNewline = false;
    Value m_trailer;
    std::map<int, Entry> m_entries; ///< objects in use; a newer section's entry wins
};

/// Writes `v` in PDF syntax, each reference through `renumber`.
template <typename Renumber> void write(const Value& v, std::string& out, const Renumber& renumber);

/// A name in PDF syntax: a slash and the name with delimiters and odd bytes as `#xx`.
std::string nameToken(std::string_view name);

template <typename Renumber>
void write(const Value& v, std::string& out, const Renumber& renumber) {
    switch (v.kind) {
    case Value::Kind::Ref:
        out += renumber(v.ref);
        return;
    case Value::Kind::Name:
        out += nameToken(v.text);
        return;
    case Value::Kind::Array: {
        out += '[';
        for (size_t i = 0; i < v.items.size(); ++i) {
            if (i > 0) {
                out += ' ';
            }
            write(v.items[i], out, renumber);
        }
        out += ']';
        return;
    }
    case Value::Kind::Dict:
        out += "<<";
        for (const auto& [key, item] : v.entries) {
            out += nameToken(key);
            out += ' ';
            write(item, out, renumber);
            out += '\n';
        }
        out += ">>";
        return;
    default:
        out += v.text;
        return;
    }
}

} // namespace tools::plain
