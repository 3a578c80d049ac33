#include "console/services/Download.h"

#include <cstdio>
#include <system_error>

#include "console/services/CurlTransfer.h"

namespace console {
namespace {

constexpr long kReadBytes = 10240;
constexpr long kStatusOk = 200;

struct TDownloadState {
    TCurlTransfer* pTransfer = nullptr;
    std::FILE* pFile = nullptr;
    uint64_t nDone = 0;
    bool bWriteFailed = false;
    TDownloadSink sink;
};

// Only the final answer's body arrives here (redirect bodies are skipped);
// anything but 200 is not the package.
size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TDownloadState*>(user);
    const size_t bytes = size * count;
    if (state->pTransfer->Status() != kStatusOk) return 0;
    if (std::fwrite(data, 1, bytes, state->pFile) != bytes) {
        state->bWriteFailed = true;
        return 0;
    }
    state->nDone += bytes;
    return bytes;
}

int ReportProgress(void* user, curl_off_t total, curl_off_t, curl_off_t, curl_off_t) {
    auto* state = static_cast<TDownloadState*>(user);
    if (state->sink.pfnProgress == nullptr) return 0;
    const uint64_t announced = total > 0 ? static_cast<uint64_t>(total) : 0;
    return state->sink.pfnProgress(announced, state->nDone, state->sink.pUser) != 0 ? 1 : 0;
}

bool SetCallbacks(CURL* curl, TDownloadState* state) {
    bool ok = curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReadBytes) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_WRITEDATA, state) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &ReportProgress) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_XFERINFODATA, state) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    return ok;
}

// The whole announced body: no error, 200, and Content-Length (when sent) met.
bool BodyComplete(CURLcode result, const TCurlTransfer& transfer, const TDownloadState& state) {
    if (result != CURLE_OK || state.bWriteFailed || transfer.Status() != kStatusOk) return false;
    curl_off_t announced = -1;
    curl_easy_getinfo(transfer.Handle(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    return announced < 0 || static_cast<uint64_t>(announced) == state.nDone;
}

bool Transfer(const TDownloadSink& sink, const std::string& url, const std::filesystem::path& part,
              const TDownloadOptions& options) {
    TCurlTransfer transfer;
    if (!transfer.Prepare(url, options.limits, options.trust.caFile)) return false;
    // "e": the descriptor is not inherited by a package started meanwhile.
    std::FILE* file = std::fopen(part.c_str(), "wbe");
    if (file == nullptr) return false;
    TDownloadState state{&transfer, file, 0, false, sink};
    const bool complete = SetCallbacks(transfer.Handle(), &state) &&
                          BodyComplete(transfer.Perform(), transfer, state);
    const bool closed = std::fclose(file) == 0;
    return complete && closed;
}

}  // namespace

std::filesystem::path PartialPath(const std::filesystem::path& path) {
    std::filesystem::path part = path;
    part += ".part";
    return part;
}

bool Download(const TDownloadSink& sink, const std::string& url, const std::filesystem::path& path,
              const TDownloadOptions& options) {
    if (!IsWebUrl(url)) return false;
    const std::filesystem::path part = PartialPath(path);
    std::error_code error;
    if (Transfer(sink, url, part, options)) {
        std::filesystem::rename(part, path, error);
        if (!error) return true;
    }
    std::filesystem::remove(part, error);
    return false;
}

}  // namespace console
