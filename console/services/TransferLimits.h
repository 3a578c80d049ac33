#pragma once

#include <string>

namespace console {

// Limits of one HTTP transfer. Tests shorten them to reach the failure paths.
struct TTransferLimits {
    long connectTimeout_ms = 2000;
    long totalTimeout_ms = 0;  // 0: no limit on the whole transfer
    // Slower than lowSpeed_Bps for lowSpeedTime_s seconds: the transfer fails.
    long lowSpeed_Bps = 1;
    long lowSpeedTime_s = 30;
};

// How a transfer trusts servers: a PEM bundle, or the system store when empty.
struct TTlsTrust {
    std::string caFile;
};

}  // namespace console
