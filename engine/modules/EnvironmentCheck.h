#pragma once

#include <cstdint>
#include <string>

namespace platform {
class TRegKey;
}

namespace pelorn {

struct TNtVersion {
    uint32_t major = 10;
    uint32_t minor = 0;
    uint32_t build = 99999;
};

// The system value that lifts the limits on device gamma ramps, which the
// screen tint needs.
constexpr char kGammaRangeKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ICM";
constexpr char kGammaRangeName[] = "GdiIcmGammaRange";
constexpr uint32_t kGammaRangeUnlimited = 256;

constexpr char kNotIntelMessage[] = " 本版本软件仅支持Intel CPU\r %s";
constexpr char kNotWindows10Message[] = "本版本软件仅支持Windows 10";
constexpr char kNeedAdminMessage[] = "需要管理员权限运行本软件";
constexpr char kSettingFailedMessage[] = "环境设置失败";

// The machine as the environment check sees it. Each source can be replaced
// on its own, so a test drives one failure at a time against the real rest.
class TMachineEnvironment {
public:
    virtual ~TMachineEnvironment() = default;

    virtual TNtVersion NtVersion() const;
    virtual std::string CpuBrand() const;
    // The "GdiIcmGammaRange" DWORD of HKLM; a registry result code.
    virtual int ReadGammaRange(uint32_t* value) const;
    // Creates or opens its key for writing; a registry result code.
    virtual int OpenGammaRangeKey(platform::TRegKey* key) const;
    virtual int WriteGammaRange(const platform::TRegKey& key, uint32_t value) const;
};

// The version numbers of the running system. The system library that reports
// them does not exist here, and for that case the build is taken as 18363 of
// major version 10.
TNtVersion QueryNtVersion();
// Windows 10 up to build 20000.
bool IsSupportedVersion(const TNtVersion& version);

// True when the engine may run on this machine. A refusal, and a gamma-range
// value that could not be written, put their message in front of the error
// trail.
bool CheckEnvironment(const TMachineEnvironment& machine = TMachineEnvironment());

}  // namespace pelorn
