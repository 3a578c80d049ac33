#include "console/services/CurlTransfer.h"

#include <strings.h>

#include <mutex>

namespace console {
namespace {

constexpr long kMaxRedirects = 5;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

bool IsWebUrl(std::string_view url) {
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

TCurlTransfer::TCurlTransfer() {
    InitCurlOnce();
    m_pCurl = curl_easy_init();
}

TCurlTransfer::~TCurlTransfer() {
    if (m_pCurl != nullptr) curl_easy_cleanup(m_pCurl);
}

bool TCurlTransfer::Prepare(const std::string& url, const TTransferLimits& limits, const std::string& caFile) {
    if (m_pCurl == nullptr || !IsWebUrl(url)) return false;
    bool ok = curl_easy_setopt(m_pCurl, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    if (!caFile.empty()) ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK;
    // Worker threads: time-outs must not rely on signals.
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeout_ms) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_TIMEOUT_MS, limits.totalTimeout_ms) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeed_Bps) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_pCurl, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedTime_s) == CURLE_OK;
    return ok;
}

long TCurlTransfer::Status() const {
    long status = 0;
    curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

}  // namespace console
