#pragma once

// One libcurl transfer with the rules every request of the console follows:
// http and https only (redirects included), certificates and host names
// verified, connect and stall limits. Internal to the services.

#include <curl/curl.h>

#include <string>
#include <string_view>

#include "console/services/TransferLimits.h"

namespace console {

// Whether url starts with "http://" or "https://" (scheme in any case).
bool IsWebUrl(std::string_view url);

class TCurlTransfer {
public:
    TCurlTransfer();
    ~TCurlTransfer();
    TCurlTransfer(const TCurlTransfer&) = delete;
    TCurlTransfer& operator=(const TCurlTransfer&) = delete;

    // False when no handle could be made or an option was refused.
    bool Prepare(const std::string& url, const TTransferLimits& limits, const std::string& caFile);
    CURL* Handle() const { return m_pCurl; }
    CURLcode Perform() { return curl_easy_perform(m_pCurl); }
    long Status() const;

private:
    CURL* m_pCurl = nullptr;
};

}  // namespace console
