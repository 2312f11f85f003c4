// Table files found at start-up are untrusted: whatever bytes lie in the
// file, OpenDB and the record operations behind it must stay inside their
// buffers and the file, and fail with a result code.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "dbf/CDbf.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/UiHost.h"

namespace {

class SilentUiHost : public platform::UiHost {
  public:
    platform::BoxResult messageBox(const platform::MessageBoxRequest& r) override {
        return r.defaultResult;
    }
};

struct Setup {
    Setup() {
        platform::SetUiHost(&ui);
        std::string tmpl = "/tmp/tavrel-fuzz-XXXXXX";
        if (mkdtemp(tmpl.data()) != nullptr) path = tmpl + "/T.DBF";
        schema = {{"CODE", 'C', 1, 6, 0}, {"PRICE", 'N', 7, 9, 3}, {"DAY", 'D', 16, 8, 0}};
    }
    platform::ScopedFakeClock clock;  // 2017-02-13
    SilentUiHost ui;
    std::string path;
    DbfSchema schema;
};

void Exercise(CDbf& t) {
    uint32_t count = 0;
    if (t.ReadRecNum(count) != 0) return;
    std::vector<char> buf(65536);
    for (uint16_t i = 0; i <= t.fields.size(); ++i) {
        uint32_t len = 300;
        t.ReadField(0, i, buf.data(), len);
    }
    uint32_t n = count < 4 ? count : 4;
    std::vector<char> records(size_t(n) * t.recordLength + 1);
    t.ReadRecords(0, n, records.data());
    t.UpdateField(0, 0, "ABCDEF", 6);
    std::vector<char> image(t.recordLength, ' ');
    t.UpdateRecord(0, image.data());
    // Appending far behind a huge claimed count would only make a sparse
    // file of terabytes; the checks before it are what matters here.
    if (count < 1000) t.AppendRecord(image.data(), 1);
    t.WriteRecNum(count < 3 ? count : 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (setup.path.empty()) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    // Most inputs get today's date, so the checks behind the new-day rule
    // are reached.
    if (size >= 4 && (data[0] & 1) != 0) {
        bytes[1] = 17;
        bytes[2] = 2;
        bytes[3] = 13;
    }
    platform::File f;
    if (!f.create(setup.path) || !f.write(bytes.data(), bytes.size())) return 0;
    f.close();
    CDbf t(setup.schema);
    if (t.OpenDB(setup.path) == 0) Exercise(t);
    return 0;
}
