#pragma once

#include <cstdint>

#include "engine/TMattControls.h"

namespace pelorn {

// The compositor: turns one input picture of the working size into the
// composed picture. It mattes the presenter out of the green backdrop through
// per-colour tables, optionally runs the beauty filter, and lays the result
// over the background according to the layout.
//
// Threads: constructed and set up on the user-interface thread (with the
// output worker stopped); Compose runs on the output worker and holds the
// controls' lock for the whole frame, so the console's SetParam, SetLayout and
// SetProcessFlags wait for the current frame.
class TCompositor {
public:
    enum Result : int {
        kOk = 0,
        kNotReady = 8,       // not set up, or a missing argument
        kSetUpFailed = 10,   // a conversion object could not be made
        kOverBudget = 256,   // the time budget ran out
    };

    TCompositor();
    ~TCompositor();
    TCompositor(const TCompositor&) = delete;
    TCompositor& operator=(const TCompositor&) = delete;

    // Input format (AVPixelFormat 1, 15, 5 or 13) and output format (3 or 28)
    // of the following SetUp.
    void SetFormats(int inFormat, int outFormat);
    // Prepares for a working size; 0 on success or kSetUpFailed.
    int SetUp(int width, int height);
    // Composes `source` (working size, input format) over `canvas` (1920 x 1080
    // x 4 bytes, BGRA) into `destination` (working size, output format).
    int Compose(uint8_t* destination, const uint8_t* source, const uint8_t* canvas);

    bool IsReady() const { return m_bReady; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    int InFormat() const { return m_nInFormat; }
    int OutFormat() const { return m_nOutFormat; }
    int LastComposeMs() const { return m_nLastComposeMs; }

    TMattControls& Controls() { return m_controls; }

private:
    TMattControls m_controls;
    bool m_bReady = false;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nInFormat = 1;
    int m_nOutFormat = 3;
    int m_nLastComposeMs = 0;
};

}  // namespace pelorn
