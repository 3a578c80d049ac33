#pragma once

#include <cstdio>
#include <string>

#include "console/media/TRecordStats.h"

namespace corvane::cli {

// The per-second and summary lines of one recorder.
class TRecorderReport {
public:
    explicit TRecorderReport(std::string name) : m_strName(std::move(name)) {}

    // Figures since the previous call over `seconds`.
    void PrintSecond(const console::TRecordStats& now, double seconds, std::FILE* out);
    void PrintSummary(const console::TRecordStats& total, double seconds, std::FILE* out) const;

private:
    std::string m_strName;
    console::TRecordStats m_previous;
};

}  // namespace corvane::cli
