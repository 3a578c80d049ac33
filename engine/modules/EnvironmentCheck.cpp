#include "engine/modules/EnvironmentCheck.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "common/ErrorTrail.h"
#include "platform/CpuInfo.h"
#include "platform/Registry.h"

namespace pelorn {
namespace {

using common::ErrorTrail;
using platform::RegAccess;
using platform::RegHive;
using platform::TRegKey;

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool CheckProcessor(const TMachineEnvironment& machine) {
    const std::string brand = LowerCase(machine.CpuBrand());
    if (brand.find("intel") != std::string::npos) return true;
    const std::string_view format(kNotIntelMessage);
    const size_t field = format.find("%s");
    std::string message(format.substr(0, field));
    message += brand;
    message += format.substr(field + 2);
    ErrorTrail::Add(message);
    return false;
}

// Passes when the value is in place or could be put there; only a key that
// cannot be opened for writing refuses the machine.
bool CheckGammaRange(const TMachineEnvironment& machine) {
    uint32_t value = 0;
    if (machine.ReadGammaRange(&value) == platform::kRegOk && value == kGammaRangeUnlimited) {
        return true;
    }
    TRegKey key;
    if (machine.OpenGammaRangeKey(&key) != platform::kRegOk) {
        ErrorTrail::Add(kNeedAdminMessage);
        return false;
    }
    if (machine.WriteGammaRange(key, kGammaRangeUnlimited) != platform::kRegOk) {
        ErrorTrail::Add(kSettingFailedMessage);
    }
    return true;
}

}  // namespace

TNtVersion TMachineEnvironment::NtVersion() const { return QueryNtVersion(); }

std::string TMachineEnvironment::CpuBrand() const { return platform::CpuBrand(); }

int TMachineEnvironment::ReadGammaRange(uint32_t* value) const {
    TRegKey key;
    const int result = key.Open(RegHive::LocalMachine, kGammaRangeKey, RegAccess::Read);
    if (result != platform::kRegOk) return result;
    return key.QueryDword(kGammaRangeName, value);
}

int TMachineEnvironment::OpenGammaRangeKey(TRegKey* key) const {
    return key->Create(RegHive::LocalMachine, kGammaRangeKey, RegAccess::Write);
}

int TMachineEnvironment::WriteGammaRange(const TRegKey& key, uint32_t value) const {
    return key.SetDword(kGammaRangeName, value);
}

TNtVersion QueryNtVersion() {
    TNtVersion version;
    version.build = 18363;
    return version;
}

bool IsSupportedVersion(const TNtVersion& version) {
    return version.major == 10 && version.build <= 20000;
}

bool CheckEnvironment(const TMachineEnvironment& machine) {
    const TNtVersion version = machine.NtVersion();
    if (!CheckProcessor(machine)) return false;
    if (!IsSupportedVersion(version)) {
        ErrorTrail::Add(kNotWindows10Message);
        return false;
    }
    return CheckGammaRange(machine);
}

}  // namespace pelorn
