#pragma once
// One field of a DBF table's schema. A schema is an ordered array of these;
// the offsets are positions inside a record (byte 0 is the deletion flag,
// so the first field is at 1).
#include <cstdint>
#include <string>
#include <vector>

struct CDbfFieldDef {
    std::string name;  // up to 11 characters are stored; the first 10 match
    char type = '\0';  // 'C', 'N', 'D'
    int32_t offset = 0;
    uint8_t width = 0;
    uint8_t decimals = 0;

    CDbfFieldDef() = default;
    CDbfFieldDef(std::string n, char t, int32_t off, uint8_t w, uint8_t d)
        : name(std::move(n)), type(t), offset(off), width(w), decimals(d) {}
};

using DbfSchema = std::vector<CDbfFieldDef>;
