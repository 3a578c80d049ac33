#pragma once

#include <cstdint>

#include "console/services/CamControlSettings.h"

class QWidget;

namespace console {

// HRESULT-style results of the camera-control operations.
constexpr int32_t kCamOk = 0;
constexpr int32_t kCamFailed = static_cast<int32_t>(0x80004005);       // E_FAIL
constexpr int32_t kCamInvalidArg = static_cast<int32_t>(0x80070057);   // E_INVALIDARG
constexpr int32_t kCamUnsupported = static_cast<int32_t>(0x80070490);  // not found

// Direct access to one camera's own controls, beside the engine's capture
// of the same camera. Console thread only; each use creates and releases
// its own object.
class IDzUVCLIB {
public:
    virtual ~IDzUVCLIB() = default;
    // Takes the first camera with this UTF-8 name that has controls.
    virtual bool Open(const char* name) = 0;
    // Runs the modal property pages, owned by `owner`, with their top-left
    // corner at (x, y); returns when the user closes them.
    virtual int32_t ShowPropertyPages(QWidget* owner, int x, int y) = 0;
    // Block A of kCamBlockA records, block B of kCamBlockB. Controls the
    // camera lacks leave their record as it was.
    virtual bool GetAll(TCamControlValue* blockA, TCamControlValue* blockB) = 0;
    // Each record that holds a value: its automatic control first, then,
    // when manual, the value clamped into the control's range.
    virtual bool SetAll(const TCamControlValue* blockA, const TCamControlValue* blockB) = 0;
    // A camera-control property (NameOfProperty's index), clamped into its
    // range and set manual.
    virtual int32_t SetValue(int16_t property, int value) = 0;
    // "" outside the table.
    virtual const char* NameOfProperty(int16_t index) = 0;
    virtual int PropertyCount() = 0;
    virtual bool IsSupported(int16_t property) = 0;
};

IDzUVCLIB* CreateInstance_IDzUVCLIB();
void ReleaseInstance_IDzUVCLIB(IDzUVCLIB** holder);

}  // namespace console
