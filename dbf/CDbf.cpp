// The table class: creating, opening and checking a table file, closing and
// copying it. The record reads and writes are in CDbfRecord.cpp.
#include "dbf/CDbf.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dbf/DbfBytes.h"
#include "platform/Clock.h"
#include "platform/UiHost.h"
#include "runtime/SimpleLogger.h"
#include "runtime/Util.h"

namespace {

constexpr const char* kModule = "Dbf";
constexpr const char* kErrorTitle = "错误";

// The largest schema a header can describe: its length and the record
// length are 16-bit fields.
constexpr size_t kMaxFields = (0xFFFF - 33) / 32;
constexpr int64_t kMaxRecordLength = 0xFFFF;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(size_t(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(size_t(n));
    }
    va_end(args);
    return out;
}

void ShowError(const std::string& text) {
    platform::ShowMessageBox(text, kErrorTitle, platform::BoxIcon::Error);
}

// True when the schema name and the 11 name bytes of a descriptor agree in
// their first 10 characters (a name shorter than 10 ends at its zero).
bool NameMatches(const std::string& name, const uint8_t* stored) {
    for (size_t i = 0; i < CDbf::kMatchChars; ++i) {
        char a = i < name.size() ? name[i] : '\0';
        char b = char(stored[i]);
        if (a != b) return false;
        if (a == '\0') return true;
    }
    return true;
}

// "<path without extension>_<n>.DBF". Only a dot in the file name itself
// starts the extension; a dot in a directory name must not move the copy
// into another directory.
std::string SnapshotName(const std::string& path, int n) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string stem = hasExtension ? path.substr(0, dot) : path;
    return Format("%s_%d.DBF", stem.c_str(), n);
}

}  // namespace

CDbf::~CDbf() = default;

// --- lifecycle -------------------------------------------------------------

int CDbf::ClearStatus() {
    isOpen = false;
    int result = 0;
    if (file.isOpen() && !file.close()) result = HandleFileError(file.error());
    ResetFieldOffsets();
    headerLength = 0;
    recordLength = 0;
    headerDate = 0;
    return result;
}

int CDbf::HandleFileError(platform::FileError error) {
    ClearStatus();
    velk::log(kModule, velk::LevelError, "打开文件 %s 失败", error.fileName.c_str());
    // A file error always carries its errno; should one arrive without, the
    // caller must still see a failure and not 0.
    return error.osError != 0 ? error.osError : -1;
}

void CDbf::ResetFieldOffsets() {
    int32_t offset = 1;
    for (CDbfFieldDef& f : fields) {
        f.offset = offset;
        offset += f.width;
    }
}

int CDbf::Close() {
    if (file.isOpen() && !file.close()) return HandleFileError(file.error());
    return 0;
}

int CDbf::CloseAndOpen() {
    if (file.isOpen() && !file.close()) return HandleFileError(file.error());
    if (!file.open(path)) return HandleFileError(file.error());
    isOpen = true;
    return 0;
}

int CDbf::Flush() {
    if (!file.isOpen()) return -1;
    if (!file.flush()) return HandleFileError(file.error());
    return 0;
}

void CDbf::WriteToDisk() {
    if (file.isOpen()) Flush();
}

// --- creating ----------------------------------------------------------------

bool CDbf::CheckSchemaLimits() {
    int64_t length = 1;
    for (const CDbfFieldDef& f : fields) length += f.width;
    if (fields.size() <= kMaxFields && length <= kMaxRecordLength) return true;
    ShowError(Format(
        "创建 DBF 库 %s 时出错：\n\n库结构超出 DBF 文件的上限（%zu 个字段，记录长度 %lld）！",
        path.c_str(), fields.size(), static_cast<long long>(length)));
    return false;
}

int CDbf::CreatDB(const std::string& newPath, const DbfSchema* schema) {
    platform::WallTime now = platform::Now();
    std::string target = newPath;  // may be our own path, which ClearStatus keeps
    ClearStatus();
    path = target;
    if (schema != nullptr && schema != &fields) fields = *schema;

    if (fields.empty()) {
        ShowError(Format("创建 DBF 库 %s 时出错：\n\n库结构至少要有一个字段！", path.c_str()));
        return -1;
    }
    if (!CheckSchemaLimits()) return -1;

    int32_t expected = 1;
    for (CDbfFieldDef& f : fields) {
        if (f.offset != expected) {
            velk::log(kModule, velk::LevelError,
                      "创建 DBF 库 %s 时出错：\n\n字段“%s”的位置偏移不对！已修改！", path.c_str(),
                      f.name.c_str());
            f.offset = expected;
        }
        expected = f.offset + f.width;
    }
    headerLength = uint16_t(kDescriptorSize * fields.size() + kHeaderSize + 1);
    recordLength = uint16_t(fields.back().offset + fields.back().width);

    // Header, descriptors and terminator go out in one write: a reader never
    // finds half a header when it opens a table we are just creating.
    std::vector<uint8_t> image(headerLength, 0);
    int year = now.year % 100;
    image[0] = kVersion;
    image[1] = uint8_t(year);
    image[2] = uint8_t(now.month);
    image[3] = uint8_t(now.day);
    dbfbytes::StoreU32(&image[4], 0);
    dbfbytes::StoreU16(&image[8], headerLength);
    dbfbytes::StoreU16(&image[10], recordLength);
    uint8_t* d = &image[kHeaderSize];
    for (const CDbfFieldDef& f : fields) {
        std::memcpy(d, f.name.data(), std::min(f.name.size(), kNameBytes));
        d[11] = uint8_t(f.type);
        dbfbytes::StoreU32(d + 12, uint32_t(f.offset));
        d[16] = f.width;
        d[17] = f.decimals;
        d += kDescriptorSize;
    }
    *d = kHeaderEnd;

    if (!file.create(path)) return HandleFileError(file.error());
    if (!file.writeAt(0, image.data(), image.size())) return HandleFileError(file.error());
    headerDate = (2000 + year) * 10000 + now.month * 100 + now.day;
    if (!file.flush()) return HandleFileError(file.error());
    isOpen = true;
    return 0;
}

// --- opening -------------------------------------------------------------------

int CDbf::OpenDB(const std::string& newPath, const DbfSchema* schema) {
    std::string target = newPath;
    ClearStatus();
    if (schema != nullptr && schema != &fields) fields = *schema;

    platform::FileStatus status;
    platform::FileError statError;
    if (!platform::StatFile(target, &status, &statError) &&
        statError.cause == platform::FileCause::NotFound) {
        return CreatDB(target, nullptr);
    }

    path = target;
    for (CDbfFieldDef& f : fields) f.offset = 0;
    if (!file.open(path)) return HandleFileError(file.error());

    // A file shorter than a header reads as zeros: dated "2000-00-00", it is
    // not today's and is created afresh.
    uint8_t header[kHeaderSize] = {};
    size_t got = 0;
    if (!file.readAt(0, header, sizeof header, &got)) return HandleFileError(file.error());
    headerDate = (2000 + header[1]) * 10000 + header[2] * 100 + header[3];

    if (headerDate != velk::util::TodayNumber()) {
        velk::log(kModule, velk::LevelWarn, "%s 不是今天的，小站将删除并创建新的文件！",
                  path.c_str());
        Close();
        return CreatDB(target, nullptr);
    }
    return VerifyStructure(header);
}

int CDbf::VerifyStructure(const uint8_t* header) {
    headerLength = dbfbytes::LoadU16(header + 8);
    if (headerLength < kHeaderSize * 2 + 1) {
        velk::log(kModule, velk::LevelError, "打开 DBF 库 %s 时出错：\n\n数据库头长度（%d）不对！",
                  path.c_str(), int(headerLength));
        ClearStatus();
        return -1;
    }
    recordLength = dbfbytes::LoadU16(header + 10);
    if (recordLength < 2) {
        velk::log(kModule, velk::LevelError, "打开 DBF 库 %s 时出错：\n\n记录长度（%d）不对！",
                  path.c_str(), int(recordLength));
        ClearStatus();
        return -1;
    }

    uint32_t count = dbfbytes::LoadU32(header + 4);
    int64_t length = 0;
    if (!file.size(&length)) return HandleFileError(file.error());
    int64_t extra = length - int64_t(recordLength) * int64_t(count) - int64_t(headerLength);
    if (extra != 0 && extra != 1) {
        velk::SimpleLogger::log(
            kModule, velk::LevelError,
            "警告： DBF 库 %s 文件长度（%I64d）与数据库头（%d + %d * %u <+1>）不符！", path.c_str(),
            static_cast<long long>(length), int(headerLength), int(recordLength), count);
    }

    size_t descriptors = headerLength / kDescriptorSize - 1;
    if (descriptors > fields.size()) {
        velk::log(kModule, velk::LevelError, "提示：DBF库%s 有%d 个字段，本程序只写%d 个字段",
                  path.c_str(), int(descriptors), int(fields.size()));
        ClearStatus();
        return -1;
    }
    // Descriptors cut off by a short file read as zeros and match nothing.
    std::vector<uint8_t> table(descriptors * kDescriptorSize, 0);
    size_t got = 0;
    if (!table.empty() && !file.readAt(kHeaderSize, table.data(), table.size(), &got)) {
        return HandleFileError(file.error());
    }
    MatchDescriptors(table.data(), descriptors);

    for (const CDbfFieldDef& f : fields) {
        if (f.offset == 0) {
            ReportMissingFields();
            ResetFieldOffsets();
            return -1;
        }
    }
    isOpen = true;
    return 0;
}

void CDbf::MatchDescriptors(const uint8_t* table, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* d = table + i * kDescriptorSize;
        int32_t offset = int32_t(dbfbytes::LoadU32(d + 12));
        for (CDbfFieldDef& f : fields) {
            if (!NameMatches(f.name, d) || d[11] != uint8_t(f.type) || d[16] != f.width ||
                d[17] != f.decimals) {
                continue;
            }
            // The offset comes from the file: one that would put the field
            // outside its record would make every read and write of it touch
            // the neighbouring record, so such a field counts as missing.
            if (offset < 1 || int64_t(offset) + f.width > recordLength) continue;
            f.offset = offset;
        }
    }
}

void CDbf::ReportMissingFields() {
    std::string names;
    for (const CDbfFieldDef& f : fields) {
        if (f.offset == 0) names += " " + f.name + " ";
    }
    ShowError(Format("打开 DBF 库 %s 时出错：\n\n库结构缺少字段“%s”或者该字段定义与规范不符！",
                     path.c_str(), names.c_str()));
}

// --- copying -------------------------------------------------------------------

int CDbf::SnapshotDB(int n) {
    // A table without a path (one that is switched off) has nothing to copy;
    // its copy's name would land in the working directory.
    if (path.empty()) return -1;
    std::string copyName = SnapshotName(path, n);
    platform::File copy;
    if (!copy.create(copyName)) return HandleFileError(copy.error());
    if (CloseAndOpen() != 0) {
        copy.close();
        return -1;
    }
    int result = CopyTableTo(copy);
    if (result != 0) return result;
    result = CloseAndOpen();
    if (result != 0) return result;
    if (!copy.close()) return HandleFileError(copy.error());
    return 0;
}

int CDbf::CopyTableTo(platform::File& copy) {
    std::vector<uint8_t> chunk(kCopyChunk);
    for (;;) {
        size_t got = 0;
        if (!file.read(chunk.data(), chunk.size(), &got)) return HandleFileError(file.error());
        if (got == 0) return 0;
        if (!copy.write(chunk.data(), got)) return HandleFileError(copy.error());
    }
}
