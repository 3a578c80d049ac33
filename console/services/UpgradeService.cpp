#include "console/services/UpgradeService.h"

#include <cstring>
#include <vector>

#include "common/Utf.h"
#include "console/services/CurlTransfer.h"
#include "console/services/SettingsStore.h"

namespace console {
namespace {

constexpr uint32_t kFirstNewerVersion = kUpgradeVersionCode + 1;
constexpr long kStatusOk = 200;
constexpr size_t kUrlUnits = 2048;

struct TFetchState {
    std::vector<uint8_t> body;
    size_t nExpected = 0;
    const std::atomic<bool>* pCancel = nullptr;
};

// Keeps at most one byte more than expected: enough to tell a longer body.
size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TFetchState*>(user);
    const size_t bytes = size * count;
    if (state->body.size() + bytes > state->nExpected) return 0;
    state->body.insert(state->body.end(), data, data + bytes);
    return bytes;
}

int CheckCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* state = static_cast<const TFetchState*>(user);
    return state->pCancel != nullptr && state->pCancel->load() ? 1 : 0;
}

// The body of GET url when the status is 200 and it is exactly `size` bytes.
std::optional<std::vector<uint8_t>> FetchExact(const std::string& url, size_t size,
                                               const TUpgradeServiceOptions& options,
                                               const std::atomic<bool>* cancel) {
    TCurlTransfer transfer;
    if (!transfer.Prepare(url, options.limits, options.trust.caFile)) return std::nullopt;
    TFetchState state{{}, size, cancel};
    CURL* curl = transfer.Handle();
    bool ok = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CheckCancel) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!ok || transfer.Perform() != CURLE_OK || transfer.Status() != kStatusOk || state.body.size() != size)
        return std::nullopt;
    return state.body;
}

uint32_t LittleEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

bool IsPrintableAscii(char c) {
    return c >= 0x20 && c <= 0x7e;
}

const char* SchemePrefix(uint8_t scheme) {
    switch (scheme) {
    case 0: return "http://";
    case 1: return "https://";
    default: return "ftp://";
    }
}

}  // namespace

TUpgradeDecision DecideUpgrade(const std::optional<UpgradeInfo>& info) {
    if (!info || info->newest < kFirstNewerVersion) return TUpgradeDecision::None;
    if (info->oldest > kUpgradeVersionCode) return TUpgradeDecision::Force;
    return TUpgradeDecision::Ask;
}

std::optional<std::string> PackageUrl(const UpgradePackageRecord& record) {
    const char* end = static_cast<const char*>(std::memchr(record.address, '\0', sizeof record.address));
    if (end == nullptr) return std::nullopt;
    std::string address(record.address, end);
    for (char c : address) {
        if (!IsPrintableAscii(c)) return std::nullopt;
    }
    return SchemePrefix(record.scheme) + address;
}

TUpgradeService::TUpgradeService(std::string baseUrl, TUpgradeServiceOptions options)
    : m_strBaseUrl(std::move(baseUrl)), m_options(std::move(options)) {
    while (!m_strBaseUrl.empty() && m_strBaseUrl.back() == '/') m_strBaseUrl.pop_back();
}

std::optional<TUpgradeService> TUpgradeService::FromSettings(TUpgradeServiceOptions options) {
    std::vector<char16_t> buffer(kUrlUnits, u'\0');
    if (ReadString(buffer.data(), buffer.size() * sizeof(char16_t), "UpgradeUrl", "") != 1)
        return std::nullopt;
    const std::string url = common::Utf16ToUtf8(buffer.data());
    if (url.empty()) return std::nullopt;
    return TUpgradeService(url, std::move(options));
}

std::optional<UpgradeInfo> TUpgradeService::QueryInfo(const std::atomic<bool>* cancel) const {
    const auto body = FetchExact(m_strBaseUrl + "/info", 8, m_options, cancel);
    if (!body) return std::nullopt;
    return UpgradeInfo{LittleEndian32(body->data()), LittleEndian32(body->data() + 4)};
}

std::optional<UpgradePackageRecord> TUpgradeService::QueryPackage(uint32_t index,
                                                                  const std::atomic<bool>* cancel) const {
    const auto body = FetchExact(m_strBaseUrl + "/package/" + std::to_string(index),
                                 sizeof(UpgradePackageRecord), m_options, cancel);
    if (!body) return std::nullopt;
    UpgradePackageRecord record;
    std::memcpy(&record, body->data(), sizeof record);
    return record;
}

}  // namespace console
