#pragma once
// Shared pieces of the table tests: a fixture with a fake clock, a log
// capture, a temporary directory and a UI host that records message boxes;
// and a builder for hand-made table files (headers a table of ours would
// never write, for the checks of OpenDB).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dbf/CDbf.h"
#include "dbf/DbfBytes.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/UiHost.h"
#include "tests/support/TestSupport.h"

namespace dbftest {

class RecordingUiHost : public platform::UiHost {
  public:
    RecordingUiHost() { platform::SetUiHost(this); }
    ~RecordingUiHost() override { platform::SetUiHost(nullptr); }
    platform::BoxResult messageBox(const platform::MessageBoxRequest& request) override {
        boxes.push_back(request);
        return request.defaultResult;
    }
    std::vector<platform::MessageBoxRequest> boxes;
};

// The fake clock starts on 2017-02-13; a table created then has these
// header date bytes.
constexpr uint8_t kYear = 17, kMonth = 2, kDay = 13;

// Descriptor of a hand-made file.
struct RawField {
    std::string name;  // up to 11 bytes are stored
    char type;
    int32_t offset;
    uint8_t width;
    uint8_t decimals;
};

// Builds a table file image. headerLength and recordLength -1 mean "as the
// descriptors imply".
inline std::string BuildTable(const std::vector<RawField>& fields, uint32_t count,
                              const std::string& records = "", int headerLength = -1,
                              int recordLength = -1, uint8_t year = kYear, uint8_t month = kMonth,
                              uint8_t day = kDay) {
    if (headerLength < 0) headerLength = int(32 * fields.size() + 33);
    if (recordLength < 0) {
        recordLength = 1;
        for (const RawField& f : fields) recordLength += f.width;
    }
    std::string out(32 + 32 * fields.size() + 1, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = 0x03;
    p[1] = year;
    p[2] = month;
    p[3] = day;
    dbfbytes::StoreU32(p + 4, count);
    dbfbytes::StoreU16(p + 8, uint16_t(headerLength));
    dbfbytes::StoreU16(p + 10, uint16_t(recordLength));
    uint8_t* d = p + 32;
    for (const RawField& f : fields) {
        for (size_t i = 0; i < f.name.size() && i < 11; ++i) d[i] = uint8_t(f.name[i]);
        d[11] = uint8_t(f.type);
        dbfbytes::StoreU32(d + 12, uint32_t(f.offset));
        d[16] = f.width;
        d[17] = f.decimals;
        d += 32;
    }
    *d = 0x0D;
    return out + records;
}

// A schema whose offsets follow from the widths.
inline DbfSchema MakeSchema(const std::vector<RawField>& fields) {
    DbfSchema schema;
    for (const RawField& f : fields)
        schema.emplace_back(f.name, f.type, f.offset, f.width, f.decimals);
    return schema;
}

// A record image: the deletion flag and the field texts, each padded with
// spaces (or cut) to its width.
inline std::string Record(const DbfSchema& schema, const std::vector<std::string>& values) {
    std::string out = " ";
    for (size_t i = 0; i < schema.size(); ++i) {
        std::string v = i < values.size() ? values[i] : "";
        v.resize(schema[i].width, ' ');
        out += v;
    }
    return out;
}

class DbfFixture : public ::testing::Test {
  protected:
    DbfFixture() { tableWriteFailures = 0; }
    ~DbfFixture() override { tableWriteFailures = 0; }

    std::string Path(const std::string& name) const { return dir.file(name); }
    std::string Bytes(const std::string& name) const { return testsupport::ReadFile(Path(name)); }
    uint32_t CountInFile(const std::string& name) const {
        std::string b = Bytes(name);
        if (b.size() < 8) return 0xFFFFFFFFu;
        return dbfbytes::LoadU32(reinterpret_cast<const uint8_t*>(b.data()) + 4);
    }
    int Errors(const std::string& fragment) { return log.count(fragment, "Dbf", 500); }

    platform::ScopedFakeClock clock;
    testsupport::CaptureAppender log;
    testsupport::TempDir dir;
    RecordingUiHost ui;
    platform::faults::ScopedFileFaults faults;
};

}  // namespace dbftest
