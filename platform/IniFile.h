#pragma once
// Ini files as the station's configuration keeps them: the syntax and the
// reading rules of the classic profile functions, so that files written by
// earlier stations read exactly as before.
//
//   - "[name]" starts a section; "key=value" is a setting. Section and key
//     names match without regard to case; the first matching section, and
//     the first matching key inside it, is the one that counts.
//   - A line ends at CR LF, LF or a lone CR.
//   - A value is the text after the first "=" up to any NUL byte, without
//     surrounding blanks.
//   - Writes replace a key's value in place, add a missing key after the
//     last non-blank line of its section and a missing section at the end of
//     the file; every other line (comments, foreign sections and keys, blank
//     lines, line ends) stays byte for byte as it was.
//
// The file is GBK on disk and UTF-8 in this interface. A save writes a
// temporary file beside the real one and renames it over the old file, so a
// crash during a save leaves either the old or the new file, never half of
// one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace platform {

class IniFile {
  public:
    static constexpr size_t kNoLimit = static_cast<size_t>(-1);
    // Files larger than this are not configuration files; loading refuses
    // them instead of reading them into memory.
    static constexpr int64_t kMaxFileSize = 8 * 1024 * 1024;

    // Reads the file. A file that does not exist gives an empty document
    // (exists() false) and true; false when it exists but cannot be read,
    // with the reason in error(). The document is empty after a failure.
    bool load(const std::string& path);
    // Takes the document from GBK text in memory.
    void parse(std::string_view gbkText);
    // The document as it is written to disk (GBK).
    std::string text() const;
    // Writes the document to path through a temporary file and a rename.
    bool save(const std::string& path);

    bool exists() const { return exists_; }
    const FileError& error() const { return error_; }

    // The value of the key (UTF-8), or nothing when the section or the key is
    // absent. maxBytes limits the value's GBK length, as a caller's fixed
    // buffer did; a double-byte character is never cut in half.
    std::optional<std::string> value(std::string_view section, std::string_view key,
                                     size_t maxBytes = kNoLimit) const;
    // The same, as the GBK bytes of the file.
    std::optional<std::string> rawValue(std::string_view section, std::string_view key,
                                        size_t maxBytes = kNoLimit) const;
    std::string getString(std::string_view section, std::string_view key,
                          const std::string& defaultValue = std::string(),
                          size_t maxBytes = kNoLimit) const;
    // An absent key or an empty value gives defaultValue; anything else is
    // read by ParseInt.
    int32_t getInt(std::string_view section, std::string_view key, int32_t defaultValue) const;

    // Sets the key (UTF-8 value). False, leaving the document unchanged, when
    // the name or the value cannot be stored on one line.
    bool setString(std::string_view section, std::string_view key, std::string_view value);
    bool setInt(std::string_view section, std::string_view key, int64_t value);

    // The profile functions' reading of a number: an optional sign, then
    // decimal digits (wrapping modulo 2^32 like a 32-bit register); 0 when
    // the text does not begin with a number. Leading blanks are skipped.
    static int32_t ParseInt(std::string_view text);
    // The longest prefix of gbk not above maxBytes that does not end inside
    // a double-byte character.
    static std::string_view CutGbk(std::string_view gbk, size_t maxBytes);
    // True when c begins a double-byte GBK character.
    static bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

  private:
    struct Line {
        std::string text;  // GBK, without its line end
        std::string eol;   // "\r\n", "\n", "\r" or "" for a last line without one
    };
    struct Span {
        size_t header;  // index of the "[section]" line
        size_t end;     // one past the section's last line
    };

    std::optional<Span> findSection(std::string_view gbkName) const;
    // Index of the key's line inside the span, or nothing.
    std::optional<size_t> findKey(const Span& span, std::string_view gbkKey) const;
    void insertLine(size_t at, std::string text);

    std::vector<Line> lines_;
    std::string eol_ = "\r\n";  // the line end of new lines: the file's own
    bool exists_ = false;
    FileError error_;
};

}  // namespace platform
