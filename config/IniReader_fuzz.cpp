// Feeds arbitrary bytes to the ini reader as the text of Tavrel.cfg: the
// document must come back byte for byte when nothing was changed, the
// configuration and server lists must read without touching anything
// outside the text, and what the station writes must read back stably.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/CRcvConf.h"
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
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    platform::IniFile ini;
    ini.parse(text);
    if (ini.text() != text) std::abort();

    CRcvConf read1;
    read1.ReadFromIni(ini, "/opt/tavrel");
    // The station's own write over the foreign file, then a second round:
    // the second read must equal the first.
    if (read1.WriteToIni(ini) != 0) return 0;
    CRcvConf read2;
    read2.ReadFromIni(ini, "/opt/tavrel");
    if (read2.WriteToIni(ini) != 0) std::abort();
    CRcvConf read3;
    read3.ReadFromIni(ini, "/opt/tavrel");
    if (!(read2 == read3)) std::abort();
    return 0;
}
