#include "quotes/TableCheck.h"

#include <cstdint>
#include <cstring>

#include "platform/UiHost.h"
#include "runtime/SimpleLogger.h"

namespace {

// Reads exactly `length` bytes of field `field` of record 0.
int ReadSpecialField(CDbf& table, int field, char* buffer, uint32_t length, const char* module) {
    uint32_t got = length;
    if (field < 0 || table.ReadField(0, static_cast<uint16_t>(field), buffer, got) != 0) {
        velk::log(module, velk::LevelError, "ReadField()出错！");
        return -1;
    }
    if (got != length) {
        velk::log(module, velk::LevelError, "Read()字段长度出错！");
        return -1;
    }
    return 0;
}

}  // namespace

int CheckSpecialRecord(CDbf& table, QuoteTableId id) {
    const QuoteTableInfo* info = FindQuoteTable(id);
    if (info == nullptr) return -1;
    char code[6];
    if (ReadSpecialField(table, info->codeField, code, sizeof code, info->logModule) != 0) {
        return -1;
    }
    if (std::memcmp(code, "000000", sizeof code) != 0) return -1;
    if (info->statusField >= 0) {
        char status = 0;
        if (ReadSpecialField(table, info->statusField, &status, 1, info->logModule) != 0) {
            return -1;
        }
        if (status != ' ') return -1;
    }
    return 0;
}

void ShowSpecialRecordError(const std::string& path) {
    platform::ShowMessageBox(" DBF 库 " + path + " 特殊记录格式出错，特殊记录格式与规范不符！",
                             "错误", platform::BoxIcon::Error);
}
