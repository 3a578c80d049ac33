#pragma once

namespace common {

// The optional run-time log that the console and the engine write together.
// A line is UTF-8 and carries its own line end; the log keeps at most 63
// UTF-16 units of it.
class IRtLog {
public:
    virtual void Configure(int enabled, int latestOnly) = 0;
    virtual void Write(const char* line) = 0;

protected:
    ~IRtLog() = default;
};

}  // namespace common
