#include "engine/ParamTable.h"

#include <algorithm>

#include "engine/ICapMattEngine.h"

namespace pelorn {

const std::array<TParamEntry, kParamCount>& ParamTable() {
    static const std::array<TParamEntry, kParamCount> table{{
        {"主体抠像", 0, -100, 100, 1},
        {"主体强化", 0, -16, 64, 1},
        {"屏幕蒙绿", 100, 0, 255, 3},
        {"美白", 0, 0, 10, 1},
        {"美肤", 0, 0, 10, 1},
        {"Debug", 0, 0, 1, 0},
        {"保留", 0, 0, 100, 0x804},
        {"算法模式", 1, 1, 2, 4},
        {"色阶", 0, 0, 255, 0},
        {"肤质", 5, 0, 10, 0},
        {"去除阴影", 0, 0, 255, 0},
        {"去除光斑", 0, 0, 255, 0},
        {"去除黑边", 0, 0, 255, 0},
        {"保留", 0, 0, 28, 0x804},
        {"Debug0", 0, -999, 999, 0},
        {"Debug1", 0, -999, 999, 0},
    }};
    return table;
}

bool IsParamIndex(int index) { return index >= 0 && index < kParamCount; }

bool IsReservedParam(int index) {
    return IsParamIndex(index) && (ParamTable()[index].flags & kParamReservedMask) != 0;
}

int ClampParam(int index, int value) {
    const TParamEntry& entry = ParamTable()[index];
    return std::clamp(value, entry.minimum, entry.maximum);
}

int ListUserParams(TCapParamList* list) {
    const auto& table = ParamTable();
    const int count = static_cast<int>(std::count_if(
        table.begin(), table.end(), [](const TParamEntry& e) { return e.flags & kParamUserVisible; }));
    // The first `count` entries in table order: the visible ones lead the table.
    return ListParams(list, count);
}

int ListParams(TCapParamList* list, int count) {
    const auto& table = ParamTable();
    if (list == nullptr) return count;
    list->count = static_cast<int16_t>(count);
    for (int i = 0; i < count; ++i) {
        list->entries[i].name = table[i].name;
        list->entries[i].defaultValue = static_cast<int16_t>(table[i].defaultValue);
        list->entries[i].minimum = static_cast<int16_t>(table[i].minimum);
        list->entries[i].maximum = static_cast<int16_t>(table[i].maximum);
    }
    return count;
}

int FindTintParam() {
    const auto& table = ParamTable();
    for (int i = 0; i < kParamCount; ++i) {
        if (table[i].flags & kParamScreenTint) return i;
    }
    return kParamTint;
}

}  // namespace pelorn
