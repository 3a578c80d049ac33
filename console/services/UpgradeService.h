#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "console/services/TransferLimits.h"

namespace console {

// The console's own version; a newer published one is offered.
constexpr uint32_t kUpgradeVersionCode = 0x01000005;

// GET <UpgradeUrl>/info: two little-endian u32.
struct UpgradeInfo {
    uint32_t newest = 0;  // newest published version code
    uint32_t oldest = 0;  // oldest version code still allowed to run
};

// GET <UpgradeUrl>/package/<index>: 72 bytes. Bytes 0-7 are not read here.
struct UpgradePackageRecord {
    uint8_t reserved[8];
    uint8_t scheme;      // 0 "http://", 1 "https://", anything else "ftp://"
    char address[63];    // host and path, zero-terminated within the record
};
static_assert(sizeof(UpgradePackageRecord) == 72);

enum class TUpgradeDecision { None, Ask, Force };

// No answer or nothing newer: None; this version no longer allowed: Force;
// otherwise Ask.
TUpgradeDecision DecideUpgrade(const std::optional<UpgradeInfo>& info);

// The package's address (scheme + address), or none when the address has no
// terminator inside the record or holds anything but printable ASCII.
std::optional<std::string> PackageUrl(const UpgradePackageRecord& record);

struct TUpgradeServiceOptions {
    TTransferLimits limits{2000, 5000, 1, 5};
    TTlsTrust trust;
};

// The upgrade information service at a base address. A status other than 200,
// a body of another length, a transfer error or a cancel is no answer.
class TUpgradeService {
public:
    explicit TUpgradeService(std::string baseUrl, TUpgradeServiceOptions options = {});

    // The service named by the string `UpgradeUrl` under the settings root;
    // none when it is missing or empty.
    static std::optional<TUpgradeService> FromSettings(TUpgradeServiceOptions options = {});

    std::optional<UpgradeInfo> QueryInfo(const std::atomic<bool>* cancel = nullptr) const;
    std::optional<UpgradePackageRecord> QueryPackage(uint32_t index,
                                                     const std::atomic<bool>* cancel = nullptr) const;
    const std::string& BaseUrl() const { return m_strBaseUrl; }

private:
    std::string m_strBaseUrl;
    TUpgradeServiceOptions m_options;
};

}  // namespace console
