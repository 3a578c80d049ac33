#include "engine/modules/GpuPreference.h"

#include "platform/ExecutablePath.h"
#include "platform/Registry.h"

namespace pelorn {
namespace {

using platform::RegAccess;
using platform::RegHive;
using platform::TRegKey;

constexpr size_t kMaxPathCharacters = 259;

// Cuts UTF-8 text after `characters` code points.
std::string CutCharacters(const std::string& text, size_t characters) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && count++ == characters) return text.substr(0, i);
    }
    return text;
}

}  // namespace

std::string GpuPreferenceValueName() {
    return CutCharacters(platform::ExecutablePath(), kMaxPathCharacters);
}

void WriteGpuPreference() {
    TRegKey key;
    if (key.Open(RegHive::CurrentUser, kGpuPreferenceKey, RegAccess::Write) != platform::kRegOk &&
        key.Create(RegHive::CurrentUser, kGpuPreferenceKey, RegAccess::Write) != platform::kRegOk) {
        return;
    }
    key.SetString(GpuPreferenceValueName(), kGpuPreferenceValue);
}

void DeleteGpuPreference() {
    TRegKey key;
    if (key.Open(RegHive::CurrentUser, kGpuPreferenceKey, RegAccess::All) != platform::kRegOk) return;
    key.DeleteValue(GpuPreferenceValueName());
}

}  // namespace pelorn
