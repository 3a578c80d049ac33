#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "console/services/TransferLimits.h"

namespace console {

// Progress of a download: (total bytes, bytes received so far, user data).
// total is 0 while the server has not announced a length (or never does).
// A non-zero return cancels the download. Called on the downloading thread,
// also while no data arrives (about once a second), so a cancel is seen
// during a stall too.
using PFN_DownloadProgress = int (*)(uint64_t total, uint64_t done, void* user);

struct TDownloadSink {
    PFN_DownloadProgress pfnProgress = nullptr;
    void* pUser = nullptr;
};

struct TDownloadOptions {
    TTransferLimits limits;
    TTlsTrust trust;
};

// GETs url (http or https, redirects followed; any other scheme fails at
// once) into path. The body goes to "<path>.part" first, which replaces path
// only when the whole body arrived: status 200, no transfer error and the
// announced Content-Length met. On failure or cancel the ".part" is removed
// and path is left as it was. Reads are at most 10240 bytes.
bool Download(const TDownloadSink& sink, const std::string& url, const std::filesystem::path& path,
              const TDownloadOptions& options = {});

// "<path>.part"
std::filesystem::path PartialPath(const std::filesystem::path& path);

}  // namespace console
