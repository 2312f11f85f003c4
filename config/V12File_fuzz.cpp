// Feeds arbitrary bytes to the reader of the older binary configuration and,
// when they make a record, carries it through migration and Tavrel.cfg:
// nothing may be read outside the bytes, and a configuration written and
// read once must come back the same when written and read again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/CRcvConf.h"
#include "config/CRcvConf_v12.h"
#include "platform/IniFile.h"
#include "platform/UiHost.h"

namespace {

class SilentUiHost : public platform::UiHost {
  public:
    platform::BoxResult messageBox(const platform::MessageBoxRequest& r) override {
        return r.defaultResult;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static SilentUiHost ui;
    platform::SetUiHost(&ui);
    CRcvConf_v12 old;
    if (old.Parse(std::string_view(reinterpret_cast<const char*>(data), size)) != 0) {
        if (old.failure().empty()) std::abort();
        return 0;
    }
    CRcvConf conf;
    conf.MigrateFrom(old, "/opt/tavrel");
    platform::IniFile first;
    if (conf.WriteToIni(first) != 0) return 0;
    CRcvConf read1;
    read1.ReadFromIni(first, "/opt/tavrel");
    platform::IniFile second;
    if (read1.WriteToIni(second) != 0) std::abort();
    CRcvConf read2;
    read2.ReadFromIni(second, "/opt/tavrel");
    if (!(read1 == read2)) std::abort();
    return 0;
}
