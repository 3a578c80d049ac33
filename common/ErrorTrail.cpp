#include "common/ErrorTrail.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/Utf.h"
#include "platform/MainModule.h"
#include "platform/SharedMemory.h"

namespace common {
namespace {

using platform::TSharedMemory;

struct TTrailState {
    std::mutex lock;  // serialises this module's additions; other modules are not bound by it
    TSharedMemory mapping;
};

TTrailState& State() {
    static TTrailState state;
    return state;
}

char16_t* Text(TTrailState& state) { return static_cast<char16_t*>(state.mapping.Data()); }

std::u16string_view Current(TTrailState& state) {
    const char16_t* text = Text(state);
    size_t length = 0;
    while (length < ErrorTrail::kMaxUnits && text[length] != 0) ++length;
    return {text, length};
}

void Prepend(const std::string& message) {
    TTrailState& state = State();
    std::lock_guard guard(state.lock);
    if (!state.mapping.IsOpen()) return;
    std::u16string combined = Utf8ToUtf16(message);
    combined += u'\r';
    combined += Current(state);
    const size_t length = Utf16CutLength(combined, ErrorTrail::kMaxUnits);
    char16_t* text = Text(state);
    std::memcpy(text, combined.data(), length * sizeof(char16_t));
    text[length] = 0;
}

// Opens the trail when a module carrying this code is loaded and closes it
// when the module goes away.
struct TTrailLifetime {
    TTrailLifetime() { ErrorTrail::Open(); }
    ~TTrailLifetime() { ErrorTrail::Close(); }
} g_trailLifetime;

}  // namespace

std::string ErrorTrail::MappingName() {
    char name[32];
    std::snprintf(name, sizeof name, "Global\\%" PRIx32,
                  static_cast<uint32_t>(platform::MainModuleAddress()));
    return name;
}

bool ErrorTrail::Open() {
    TTrailState& state = State();
    std::lock_guard guard(state.lock);
    if (state.mapping.IsOpen()) return true;
    const std::string name = MappingName();
    if (state.mapping.Open(name, kBlockBytes, TSharedMemory::Access::OpenExisting) == 0) {
        return true;
    }
    return state.mapping.Open(name, kBlockBytes, TSharedMemory::Access::CreateOrOpen) == 0;
}

void ErrorTrail::Close() {
    TTrailState& state = State();
    std::lock_guard guard(state.lock);
    state.mapping.Close();
}

bool ErrorTrail::IsOpen() {
    TTrailState& state = State();
    std::lock_guard guard(state.lock);
    return state.mapping.IsOpen();
}

void ErrorTrail::Add(std::string_view text) { Prepend(std::string(text)); }

void ErrorTrail::AddHr(std::string_view text, int32_t code) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ", hr: %" PRIx32, static_cast<uint32_t>(code));
    Prepend(std::string(text) + suffix);
}

void ErrorTrail::AddRet(std::string_view text, int code) {
    Prepend(std::string(text) + ", ret: " + std::to_string(code));
}

std::string ErrorTrail::Take() {
    TTrailState& state = State();
    std::lock_guard guard(state.lock);
    if (!state.mapping.IsOpen()) return {};
    std::string copy = Utf16ToUtf8(Current(state));
    Text(state)[0] = 0;
    return copy;
}

std::string ErrorTrail::Peek() {
    TTrailState& state = State();
    std::lock_guard guard(state.lock);
    if (!state.mapping.IsOpen()) return {};
    return Utf16ToUtf8(Current(state));
}

}  // namespace common
