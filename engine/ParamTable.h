#pragma once

#include <array>
#include <cstdint>

struct TCapParamList;

namespace pelorn {

// The sixteen tunable parameters of the engine, fixed at build time.
struct TParamEntry {
    const char* name;  // UTF-8
    int32_t defaultValue;
    int32_t minimum;
    int32_t maximum;
    int32_t flags;
};

enum : int32_t {
    kParamUserVisible = 1,  // listed by GetParamList
    kParamScreenTint = 2,   // tints a monitor instead of the picture
    kParamAlgorithmMode = 4,
    kParamReservedMask = 0x804,  // neither initialised from the default nor applied
};

enum ParamIndex : int {
    kParamMatting = 0,
    kParamReinforce = 1,
    kParamTint = 2,
    kParamWhitening = 3,
    kParamSmoothing = 4,
    kParamDebug = 5,
    kParamAlgorithm = 7,
    kParamLevel = 8,
    kParamTexture = 9,
    kParamShadow = 10,
    kParamSpot = 11,
    kParamBlackEdge = 12,
    kParamDebug0 = 14,
    kParamDebug1 = 15,
};

constexpr int kParamCount = 16;

const std::array<TParamEntry, kParamCount>& ParamTable();

bool IsParamIndex(int index);
bool IsReservedParam(int index);
int ClampParam(int index, int value);

// Fills `list` with the user-visible entries and returns their count.
int ListUserParams(TCapParamList* list);
// Fills `list` with the first `count` entries of the table; returns `count`.
int ListParams(TCapParamList* list, int count);
// Index of the first entry flagged as the screen tint (2 when there is none).
int FindTintParam();

}  // namespace pelorn
