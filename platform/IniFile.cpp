#include "platform/IniFile.h"

#include <cerrno>

#include "platform/Text.h"

namespace platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

char FoldAscii(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// Names compare without regard to case; only single-byte letters fold, so two
// different double-byte characters never compare equal.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (IniFile::IsGbkLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

// Position of c in s, stepping over double-byte characters (whose trail byte
// may equal c); npos when absent.
size_t FindSingleByte(std::string_view s, char c) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == c) return i;
        if (IniFile::IsGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ++i;
    }
    return std::string_view::npos;
}

// The name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = TrimLeft(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    size_t close = FindSingleByte(line, ']');
    if (close != std::string_view::npos) line = line.substr(0, close);
    return Trim(line);
}

struct KeyLine {
    std::string_view key;
    size_t equals;  // position of the "=" in the line
};

// The key of a "key=value" line; nothing for headers, comments and lines
// without "=".
std::optional<KeyLine> KeyOf(std::string_view line) {
    std::string_view rest = TrimLeft(line);
    if (rest.empty() || rest.front() == '[' || rest.front() == ';') return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return KeyLine{Trim(line.substr(0, eq)), eq};
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool StorableName(std::string_view name) {
    return !name.empty() && Trim(name).size() == name.size() && !HasLineBreakOrNul(name);
}

}  // namespace

int32_t IniFile::ParseInt(std::string_view text) {
    text = TrimLeft(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10u + uint32_t(c - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

std::string_view IniFile::CutGbk(std::string_view gbk, size_t maxBytes) {
    if (gbk.size() <= maxBytes) return gbk;
    size_t i = 0;
    while (i < gbk.size()) {
        size_t unit =
            (IsGbkLeadByte(static_cast<unsigned char>(gbk[i])) && i + 1 < gbk.size()) ? 2 : 1;
        if (i + unit > maxBytes) break;
        i += unit;
    }
    return gbk.substr(0, i);
}

bool IniFile::load(const std::string& path) {
    lines_.clear();
    eol_ = "\r\n";
    exists_ = false;
    error_ = FileError{};
    File file;
    if (!file.open(path, false)) {
        if (file.error().cause == FileCause::NotFound) return true;
        error_ = file.error();
        return false;
    }
    std::string content;
    char buf[65536];
    for (;;) {
        size_t got = 0;
        if (!file.read(buf, sizeof buf, &got)) {
            error_ = file.error();
            return false;
        }
        if (got == 0) break;
        content.append(buf, got);
        if (int64_t(content.size()) > kMaxFileSize) {
            error_ = FileError{FileCause::Other, EFBIG, path};
            return false;
        }
    }
    parse(content);
    exists_ = true;
    return true;
}

void IniFile::parse(std::string_view gbkText) {
    lines_.clear();
    eol_ = "\r\n";
    bool eolSeen = false;
    while (!gbkText.empty()) {
        // A line ends at CR LF, LF or a lone CR, as profile files always did.
        size_t end = gbkText.find_first_of("\r\n");
        Line line;
        line.text.assign(gbkText.substr(0, end));
        if (end == std::string_view::npos) {
            gbkText = {};
        } else {
            bool crlf =
                gbkText[end] == '\r' && end + 1 < gbkText.size() && gbkText[end + 1] == '\n';
            line.eol.assign(gbkText.substr(end, crlf ? 2 : 1));
            gbkText.remove_prefix(end + line.eol.size());
            if (!eolSeen) {
                eol_ = line.eol;
                eolSeen = true;
            }
        }
        lines_.push_back(std::move(line));
    }
}

std::string IniFile::text() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.text;
        out += line.eol;
    }
    return out;
}

bool IniFile::save(const std::string& path) {
    error_ = FileError{};
    const std::string temp = path + ".tmp";
    const std::string content = text();
    File file;
    bool written = file.create(temp) && file.write(content.data(), content.size()) && file.flush();
    if (!written) {
        error_ = file.error();
        file.close();
        RemoveFile(temp);
        return false;
    }
    if (!file.close()) {
        error_ = file.error();
        RemoveFile(temp);
        return false;
    }
    FileError renameError;
    if (!RenameFile(temp, path, &renameError)) {
        error_ = renameError;
        RemoveFile(temp);
        return false;
    }
    exists_ = true;
    return true;
}

std::optional<IniFile::Span> IniFile::findSection(std::string_view gbkName) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i].text);
        if (!name || !SameName(*name, gbkName)) continue;
        size_t end = i + 1;
        while (end < lines_.size() && !SectionName(lines_[end].text)) ++end;
        return Span{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> IniFile::findKey(const Span& span, std::string_view gbkKey) const {
    for (size_t i = span.header + 1; i < span.end; ++i) {
        auto key = KeyOf(lines_[i].text);
        if (key && SameName(key->key, gbkKey)) return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniFile::rawValue(std::string_view section, std::string_view key,
                                             size_t maxBytes) const {
    auto span = findSection(Utf8ToGbk(section));
    if (!span) return std::nullopt;
    auto at = findKey(*span, Utf8ToGbk(key));
    if (!at) return std::nullopt;
    std::string_view line = lines_[*at].text;
    std::string_view value = line.substr(KeyOf(line)->equals + 1);
    // A value is a C string to the profile functions: it ends at a NUL.
    value = Trim(value.substr(0, value.find('\0')));
    return std::string(CutGbk(value, maxBytes));
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key,
                                          size_t maxBytes) const {
    auto raw = rawValue(section, key, maxBytes);
    if (!raw) return std::nullopt;
    return GbkToUtf8(*raw);
}

std::string IniFile::getString(std::string_view section, std::string_view key,
                               const std::string& defaultValue, size_t maxBytes) const {
    auto v = value(section, key, maxBytes);
    return v ? *v : defaultValue;
}

int32_t IniFile::getInt(std::string_view section, std::string_view key,
                        int32_t defaultValue) const {
    auto raw = rawValue(section, key);
    if (!raw || raw->empty()) return defaultValue;
    return ParseInt(*raw);
}

void IniFile::insertLine(size_t at, std::string text) {
    // A last line without its line end gets one before anything follows it.
    if (at > 0 && at == lines_.size() && lines_[at - 1].eol.empty()) lines_[at - 1].eol = eol_;
    lines_.insert(lines_.begin() + std::ptrdiff_t(at), Line{std::move(text), eol_});
}

bool IniFile::setString(std::string_view section, std::string_view key, std::string_view value) {
    if (!StorableName(section) || !StorableName(key) || HasLineBreakOrNul(value)) return false;
    const std::string gbkSection = Utf8ToGbk(section);
    const std::string gbkKey = Utf8ToGbk(key);
    if (FindSingleByte(gbkSection, ']') != std::string::npos) return false;
    if (gbkKey.find('=') != std::string::npos || gbkKey.front() == '[' || gbkKey.front() == ';')
        return false;
    const std::string gbkValue = Utf8ToGbk(value);

    auto span = findSection(gbkSection);
    if (!span) {
        insertLine(lines_.size(), "[" + gbkSection + "]");
        insertLine(lines_.size(), gbkKey + "=" + gbkValue);
        return true;
    }
    if (auto at = findKey(*span, gbkKey)) {
        // The key and the blanks around "=" stay as they were; only the
        // value itself is replaced.
        std::string& line = lines_[*at].text;
        size_t valueStart = KeyOf(line)->equals + 1;
        while (valueStart < line.size() && IsBlank(line[valueStart])) ++valueStart;
        line.resize(valueStart);
        line += gbkValue;
        return true;
    }
    size_t at = span->end;
    while (at > span->header + 1 && Trim(lines_[at - 1].text).empty()) --at;
    insertLine(at, gbkKey + "=" + gbkValue);
    return true;
}

bool IniFile::setInt(std::string_view section, std::string_view key, int64_t value) {
    return setString(section, key, std::to_string(value));
}

}  // namespace platform
