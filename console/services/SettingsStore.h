#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/TCapLayout.h"

namespace console {

// The console's persistent settings under LocalMachine "SOFTWARE\Quindle".
// Nothing is cached: every call opens, reads or writes, and closes. Reads never
// fail the caller (defaults stand in for whatever is missing or damaged); a
// value of the wrong type or size counts as missing. Strings are UTF-8 in the
// store; the wide buffers here count UTF-16 units and a stored string must fit
// together with its terminator, or it counts as missing.

constexpr int kRtmpTargets = 3;
constexpr size_t kRtmpAddrUnits = 260;  // with the terminator
constexpr size_t kRtmpNameUnits = 32;   // with the terminator

// Always 1. fps and pixelFormat below -1 read as -1.
int ReadClient(int16_t* width, int16_t* height, int16_t* fps, int16_t* pixelFormat);
// True only when every value was written.
bool WriteClient(int16_t width, int16_t height, int16_t fps, int16_t pixelFormat);

// Always 1. A bit-rate index outside 0..5 reads as 2.
int ReadRecord(int16_t* vaAlign, int16_t* bytesRate, int16_t* gop, uint16_t* fileExt);
bool WriteRecord(int16_t vaAlign, int16_t bytesRate, int16_t gop, uint16_t fileExt);

// Always 1. Either array may be null; each holds kRtmpTargets buffers that are
// cleared first. An address whose name is missing reads empty.
int ReadRtmp(int16_t* byteRate, char16_t (*addresses)[kRtmpAddrUnits],
             char16_t (*names)[kRtmpNameUnits]);
// Writes ByteRate, then each address and, once it is written, its name.
bool WriteRtmp(int16_t byteRate, const std::u16string_view addresses[kRtmpTargets],
               const std::u16string_view names[kRtmpTargets]);

// 1 on success; 0 with the buffer untouched when the value is missing or does
// not fit bufferBytes with its terminator.
int ReadString(char16_t* buffer, size_t bufferBytes, std::string_view valueName,
               std::string_view subkey);
// The registry's result code, 0 on success; an empty subkey is the root.
int WriteString(std::u16string_view text, std::string_view valueName, std::string_view subkey);

// True when the value is stored as a dword or a string: a read gives the
// stored setting rather than its default.
bool IsStored(std::string_view valueName, std::string_view subkey);

// Writes the Name of template n, creating its key. 1 on success, 0 on failure.
int RenameTemplate(std::u16string_view name, int n);

// Templates 0 and 1 are built in and computed from the record's MaxWidth and
// MaxHeight. Any other slot is read from the store; 1 on success, 0 when it is
// missing or damaged, and then the record is left as it was.
int LoadTemplate(TCapLayout* layout, int n, bool withLayers);
// Built-in records are not written (returns 1). Positions are stored scaled
// to 1920 x 1080. 0 on failure or on a record that cannot be stored.
int SaveTemplate(const TCapLayout& layout, int n);

// The template that replaces slot n (2..5) when it cannot be loaded:
// "自定义<n + 1>" with two layers on a 1920 x 1080 canvas.
TCapLayout DefaultTemplate(int n);

}  // namespace console
