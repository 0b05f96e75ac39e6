#include "plain_pdf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace tools::plain {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool isDelimiter(char c) {
    return std::strchr("()<>[]{}/%", c) != nullptr && c != '\0';
}

bool isRegular(char c) {
    return !isSpace(c) && !isDelimiter(c);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/// The buffer ended before the value did, while the file goes on: read more and try again.
struct Truncated {};

/// Reads values from a stretch of the file. `whole` says whether the stretch reaches the end
/// of the file; when it does not, running out of bytes means reading a longer stretch.
class Lexer {
public:
    Lexer(std::string_view text, bool whole, const std::string& where)
        : m_text(text), m_whole(whole), m_where(where) {}

    size_t pos = 0;

    char peek(size_t ahead = 0) {
        if (pos + ahead >= m_text.size()) {
            if (!m_whole) {
                throw Truncated{};
            }
            return '\0';
        }
        return m_text[pos + ahead];
    }
    bool atEnd() const { return m_whole && pos >= m_text.size(); }

    [[noreturn]] void fail(const std::string& what) const { throw NotPlain(m_where + ": " + what); }

    void skipSpace() {
        for (;;) {
            if (atEnd()) {
                return;
            }
            const char c = peek();
            if (c == '%') {
                while (!atEnd() && peek() != '\n' && peek() != '\r') {
                    ++pos;
                }
            } else if (isSpace(c)) {
                ++pos;
            } else {
                return;
            }
        }
    }

    /// The keyword `word` here, followed by a delimiter, a space or the end.
    bool keyword(std::string_view word) {
        for (size_t i = 0; i < word.size(); ++i) {
            if (peek(i) != word[i]) {
                return false;
            }
        }
        if (isRegular(peek(word.size()))) {
            return false;
        }
        pos += word.size();
        return true;
    }

    long long unsignedNumber() {
        if (!isDigit(peek())) {
            fail("a number was expected");
        }
        long long n = 0;
        while (isDigit(peek())) {
            if (n > (1LL << 50)) {
                fail("a number is too large");
            }
            n = n * 10 + (peek() - '0');
            ++pos;
        }
        return n;
    }

    Value value(int depth = 0) {
        if (depth > 64) {
            fail("values are nested too deeply");
        }
        skipSpace();
        const char c = peek();
        Value v;
        if (c == '/') {
            ++pos;
            v.kind = Value::Kind::Name;
            while (isRegular(peek())) {
                char ch = peek();
                ++pos;
                if (ch == '#') {
                    const int hi = hexValue(peek());
                    const int lo = hexValue(peek(1));
                    if (hi < 0 || lo < 0) {
                        fail("a name has a bad # escape");
                    }
                    ch = static_cast<char>(hi * 16 + lo);
                    pos += 2;
                }
                v.text += ch;
            }
            return v;
        }
        if (c == '(') {
            v.kind = Value::Kind::String;
            const size_t start = pos;
            int nesting = 0;
            do {
                if (atEnd()) {
                    fail("a string does not end");
                }
                const char ch = peek();
                ++pos;
                if (ch == '\\') {
                    ++pos;
                } else if (ch == '(') {
                    ++nesting;
                } else if (ch == ')') {
                    --nesting;
                }
            } while (nesting > 0);
            v.text.assign(m_text.substr(start, pos - start));
            return v;
        }
        if (c == '<' && peek(1) == '<') {
            pos += 2;
            v.kind = Value::Kind::Dict;
            for (;;) {
                skipSpace();
                if (peek() == '>' && peek(1) == '>') {
                    pos += 2;
                    return v;
                }
                if (peek() != '/') {
                    fail("a dictionary key is not a name");
                }
                Value key = value(depth + 1);
                Value item = value(depth + 1);
                if (v.get(key.text)) {
                    fail("a dictionary has the key /" + key.text + " twice");
                }
                v.entries.emplace_back(std::move(key.text), std::move(item));
            }
        }
        if (c == '<') {
            v.kind = Value::Kind::String;
            const size_t start = pos++;
            while (peek() != '>') {
                if (atEnd() || (hexValue(peek()) < 0 && !isSpace(peek()))) {
                    fail("a hexadecimal string is damaged");
                }
                ++pos;
            }
            ++pos;
            v.text.assign(m_text.substr(start, pos - start));
            return v;
        }
        if (c == '[') {
            ++pos;
            v.kind = Value::Kind::Array;
            for (;;) {
                skipSpace();
                if (peek() == ']') {
                    ++pos;
                    return v;
                }
                if (atEnd()) {
                    fail("an array does not end");
                }
                v.items.push_back(value(depth + 1));
            }
        }
        if (isDigit(c) || c == '+' || c == '-' || c == '.') {
            const size_t start = pos;
            ++pos;
            while (isDigit(peek()) || peek() == '.') {
                ++pos;
            }
            v.kind = Value::Kind::Number;
            v.text.assign(m_text.substr(start, pos - start));
            if (v.text == "+" || v.text == "-" || v.text == "." || isRegular(peek())) {
                fail("a number is damaged");
            }
            // "N G R" is a reference.
            if (isDigit(c) && v.text.find('.') == std::string::npos) {
                const size_t after = pos;
                skipSpace();
                if (isDigit(peek())) {
                    const long long generation = unsignedNumber();
                    skipSpace();
                    if (keyword("R")) {
                        if (v.text.size() > 9 || generation > 65535) {
                            fail("a reference is out of range");
                        }
                        v.kind = Value::Kind::Ref;
                        v.ref = {std::stoi(v.text), static_cast<int>(generation)};
                        v.text.clear();
                        return v;
                    }
                }
                pos = after;
            }
            return v;
        }
        for (const char* word : {"true", "false"}) {
            if (keyword(word)) {
                v.kind = Value::Kind::Bool;
                v.text = word;
                return v;
            }
        }
        if (keyword("null")) {
            v.text = "null";
            return v;
        }
        fail("an unexpected token");
    }

private:
    std::string_view m_text;
    bool m_whole;
    const std::string& m_where;
};

} // namespace

bool Value::isInteger() const {
    return kind == Kind::Number && text.find('.') == std::string::npos;
}

long long Value::integer() const {
    return std::stoll(text);
}

const Value* Value::get(std::string_view key) const {
    for (const auto& [k, v] : entries) {
        if (k == key) {
            return &v;
        }
    }
    return nullptr;
}

std::string nameToken(std::string_view name) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "/";
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x21 || c > 0x7e || c == '#' || isDelimiter(ch)) {
            out += '#';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

File::File(const std::string& path) : m_path(path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (m_fd < 0 || fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        throw NotPlain(path + " is not a readable regular file");
    }
    m_size = st.st_size;
    try {
        readTail();
        std::set<long long> sections;
        std::set<int> defined;
        for (long long at = m_startxref;;) {
            if (!sections.insert(at).second) {
                throw NotPlain(path + ": its cross-reference sections go round in a loop");
            }
            const Value trailer = readSection(at, defined);
            if (at == m_startxref) {
                m_trailer = trailer;
            }
            if (trailer.get("XRefStm")) {
                throw NotPlain(path + " has cross-references of both kinds");
            }
            const Value* prev = trailer.get("Prev");
            if (!prev) {
                break;
            }
            if (!prev->isInteger() || prev->integer() <= 0 || prev->integer() >= m_size) {
                throw NotPlain(path + ": its /Prev is not a place in the file");
            }
            at = prev->integer();
        }
    } catch (...) {
        ::close(m_fd);
        throw;
    }
}

File::~File() {
    ::close(m_fd);
}

std::string File::bytesAt(long long offset, size_t length) const {
    if (offset >= m_size) {
        return {};
    }
    length =
        static_cast<size_t>(std::min<long long>(static_cast<long long>(length), m_size - offset));
    std::string bytes(length, '\0');
    size_t got = 0;
    while (got < length) {
        const ssize_t n =
            pread(m_fd, bytes.data() + got, length - got, offset + static_cast<long long>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw NotPlain(m_path + " cannot be read");
        }
        got += static_cast<size_t>(n);
    }
    return bytes;
}

void File::readTail() {
    const long long span = std::min<long long>(m_size, 4096);
    const std::string tail = bytesAt(m_size - span, static_cast<size_t>(span));
    size_t end = tail.size();
    while (end > 0 && (tail[end - 1] == '\n' || tail[end - 1] == '\r' || tail[end - 1] == ' ')) {
        --end;
    }
    if (end < 5 || tail.compare(end - 5, 5, "%%EOF") != 0) {
        throw NotPlain(m_path + " does not end with %%EOF");
    }
    const size_t keyword = tail.rfind("startxref", end - 5);
    if (keyword == std::string::npos) {
        throw NotPlain(m_path + " has no startxref");
    }
    Lexer lex(std::string_view(tail).substr(keyword + 9, end - 5 - keyword - 9), true, m_path);
    lex.skipSpace();
    const long long offset = lex.atEnd() ? 0 : lex.unsignedNumber();
    lex.skipSpace();
    if (!lex.atEnd() || offset <= 0 || offset >= m_size) {
        throw NotPlain(m_path + ": its startxref is not a place in the file");
    }
    m_startxref = offset;
    m_endsWithNewline = tail.back() == '\n' || tail.back() == '\r';
}

Value File::readSection(long long at, std::set<int>& defined) {
    for (size_t length = 16 * 1024;; length *= 4) {
        if (length > (size_t{256} << 20)) {
            throw NotPlain(m_path + ": a cross-reference section is too long");
        }
        const std::string text = bytesAt(at, length);
        const bool whole = at + static_cast<long long>(text.size()) >= m_size;
        try {
            Lexer lex(text, whole, m_path);
            if (!lex.keyword("xref")) {
                throw NotPlain(m_path + ": its cross-references are not a table");
            }
            std::map<int, Entry> found;
            std::set<int> freed;
            for (;;) {
                lex.skipSpace();
                if (lex.keyword("trailer")) {
                    break;
                }
                const long long first = lex.unsignedNumber();
                lex.skipSpace();
                const long long count = lex.unsignedNumber();
                if (first + count > 8'000'000) {
                    lex.fail("a cross-reference section is out of range");
                }
                // The line end after the header, then entries of exactly 20 bytes.
                while (lex.peek() == ' ') {
                    ++lex.pos;
                }
                if (lex.peek() == '\r') {
                    ++lex.pos;
                }
                if (lex.peek() == '\n') {
                    ++lex.pos;
                }
                for (long long i = 0; i < count; ++i) {
                    char line[20];
                    for (size_t k = 0; k < 20; ++k) {
                        line[k] = lex.peek(k);
                    }
                    const bool shape = std::all_of(line, line + 10, isDigit) && line[10] == ' ' &&
                                       std::all_of(line + 11, line + 16, isDigit) &&
                                       line[16] == ' ' && (line[17] == 'n' || line[17] == 'f') &&
                                       isSpace(line[18]) && isSpace(line[19]) && line[18] != '\0';
                    if (!shape) {
                        lex.fail("a cross-reference entry is damaged");
                    }
                    lex.pos += 20;
                    const int number = static_cast<int>(first + i);
                    if (line[17] == 'n') {
                        found[number] = {std::stoll(std::string(line, 10)),
                                         std::stoi(std::string(line + 11, 5))};
                    } else {
                        freed.insert(number);
                    }
                }
            }
            const Value trailer = lex.value();
            if (!trailer.isDict()) {
                lex.fail("its trailer is not a dictionary");
            }
            // Older sections fill in only what the newer ones leave open.
            for (const auto& [number, entry] : found) {
                if (!defined.count(number)) {
                    m_entries[number] = entry;
                }
            }
            for (const auto& [number, entry] : found) {
                defined.insert(number);
            }
            defined.insert(freed.begin(), freed.end());
            return trailer;
        } catch (const Truncated&) {
            if (whole) {
                throw NotPlain(m_path + ": a cross-reference section is cut short");
            }
        }
    }
}

int File::nextNumber() const {
    long long next = 1;
    if (const Value* size = m_trailer.get("Size"); size && size->isInteger()) {
        next = std::max(next, size->integer());
    }
    if (!m_entries.empty()) {
        next = std::max<long long>(next, m_entries.rbegin()->first + 1);
    }
    if (next > 8'000'000) {
        throw NotPlain(m_path + " has too many objects");
    }
    return static_cast<int>(next);
}

bool File::linearized() const {
    return bytesAt(0, 1024).find("/Linearized") != std::string::npos;
}

Object File::object(Ref ref) const {
    const auto found = m_entries.find(ref.number);
    if (found == m_entries.end() || found->second.generation != ref.generation) {
        throw NotPlain(m_path + ": object " + std::to_string(ref.number) + " is missing");
    }
    const long long at = found->second.offset;
    if (at <= 0 || at >= m_size) {
        throw NotPlain(m_path + ": object " + std::to_string(ref.number) + " is out of the file");
    }
    for (size_t length = 4096;; length *= 4) {
        if (length > (size_t{256} << 20)) {
            throw NotPlain(m_path + ": object " + std::to_string(ref.number) + " is too long");
        }
        const std::string text = bytesAt(at, length);
        const bool whole = at + static_cast<long long>(text.size()) >= m_size;
        try {
            Lexer lex(text, whole, m_path);
            const long long number = lex.unsignedNumber();
            lex.skipSpace();
            const long long generation = lex.unsignedNumber();
            lex.skipSpace();
            if (number != ref.number || generation != ref.generation || !lex.keyword("obj")) {
                lex.fail("object " + std::to_string(ref.number) + " is not where its table says");
            }
            Object o;
            o.value = lex.value();
            lex.skipSpace();
            if (lex.keyword("endobj")) {
                return o;
            }
            if (!o.value.isDict() || !lex.keyword("stream")) {
                lex.fail("object " + std::to_string(ref.number) + " does not end");
            }
            if (lex.peek() == '\r') {
                ++lex.pos;
            }
            if (lex.peek() != '\n') {
                lex.fail("a stream keyword is not followed by a line end");
            }
            ++lex.pos;
            o.stream = true;
            o.dataOffset = at + static_cast<long long>(lex.pos);
            const Value* given = o.value.get("Length");
            const Value size = given ? resolve(*given) : Value{};
            if (!size.isInteger() || size.integer() < 0 || o.dataOffset + size.integer() > m_size) {
                lex.fail("the length of stream " + std::to_string(ref.number) + " is wrong");
            }
            o.dataLength = size.integer();
            const std::string after = bytesAt(o.dataOffset + o.dataLength, 32);
            Lexer end(after, true, m_path);
            end.skipSpace();
            if (!end.keyword("endstream")) {
                lex.fail("stream " + std::to_string(ref.number) + " does not end where it says");
            }
            return o;
        } catch (const Truncated&) {
            if (whole) {
                throw NotPlain(m_path + ": object " + std::to_string(ref.number) + " is cut short");
            }
        }
    }
}

Value File::resolve(const Value& v) const {
    if (!v.isRef()) {
        return v;
    }
    Object o = object(v.ref);
    if (o.stream) {
        throw NotPlain(m_path + ": a stream stands where a value was expected");
    }
    return o.value;
}

std::string File::streamData(const Object& o) const {
    return bytesAt(o.dataOffset, static_cast<size_t>(o.dataLength));
}

} // namespace tools::plain
