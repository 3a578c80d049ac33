#include "console/DzUVCLIBIMPL.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "console/CCamControlPages.h"

namespace console {
namespace {

using platform::ECamControl;
using TMaybeControl = std::optional<ECamControl>;

constexpr const char* kPropertyNames[DzUVCLIBIMPL::kPropertyCount] = {
    "PAN",           "TILT",          "ROLL",          "ZOOM",
    "EXPOSURE",      "IRIS",          "FOCUS",         "SCANMODE",
    "PRIVACY",       "PANTILT",       "PAN_RELATIVE",  "TILT_RELATIVE",
    "ROLL_RELATIVE", "ZOOM_RELATIVE", "EXPOSURE_RELATIVE", "IRIS_RELATIVE",
    "FOCUS_RELATIVE", "PANTILT_RELATIVE", "FOCAL_LENGTH", "AUTO_EXPOSURE_PRIORITY"};

// The camera's counterpart of each property of the table; the properties
// without one are never supported.
constexpr TMaybeControl kCameraProperties[DzUVCLIBIMPL::kPropertyCount] = {
    ECamControl::Pan,         ECamControl::Tilt,         std::nullopt,              ECamControl::Zoom,
    ECamControl::Exposure,    ECamControl::Iris,         ECamControl::Focus,        std::nullopt,
    ECamControl::Privacy,     std::nullopt,              ECamControl::PanRelative,  ECamControl::TiltRelative,
    std::nullopt,             ECamControl::ZoomRelative, std::nullopt,              ECamControl::IrisRelative,
    ECamControl::FocusRelative, std::nullopt,            std::nullopt,              ECamControl::ExposureAutoPriority};

// Block A in its stored order; ColorEnable has no counterpart.
constexpr TMaybeControl kPictureProperties[kCamBlockA] = {
    ECamControl::Brightness, ECamControl::Contrast,     ECamControl::Hue,
    ECamControl::Saturation, ECamControl::Sharpness,    ECamControl::Gamma,
    std::nullopt,            ECamControl::WhiteBalance, ECamControl::BacklightCompensation,
    ECamControl::Gain};

TMaybeControl CameraProperty(int16_t property) {
    if (property < 0 || property >= DzUVCLIBIMPL::kPropertyCount) return std::nullopt;
    return kCameraProperties[property];
}

}  // namespace

IDzUVCLIB* CreateInstance_IDzUVCLIB() {
    return new DzUVCLIBIMPL();
}

void ReleaseInstance_IDzUVCLIB(IDzUVCLIB** holder) {
    if (holder == nullptr) return;
    delete *holder;
    *holder = nullptr;
}

bool DzUVCLIBIMPL::Open(const char* name) {
    m_pControls.reset();
    if (name == nullptr || *name == '\0') return false;
    return platform::TCameraControls::Open(name, &m_pControls) == 0;
}

int32_t DzUVCLIBIMPL::ShowPropertyPages(QWidget* owner, int x, int y) {
    if (!m_pControls) return kCamInvalidArg;
    CCamControlPages pages(*m_pControls, owner);
    pages.PlaceAt(x, y);
    pages.exec();
    return kCamOk;
}

void DzUVCLIBIMPL::GetOne(TMaybeControl control, TCamControlValue* record) {
    int32_t value = 0;
    bool automatic = false;
    if (!control || m_pControls->Get(*control, &value, &automatic) != 0) return;
    record->value = value;
    record->flags = automatic ? kCamFlagAuto : kCamFlagManual;
}

bool DzUVCLIBIMPL::GetAll(TCamControlValue* blockA, TCamControlValue* blockB) {
    if (!m_pControls) return false;
    for (int i = 0; i < kCamBlockA; ++i) GetOne(kPictureProperties[i], &blockA[i]);
    for (int i = 0; i < kCamBlockB; ++i) GetOne(kCameraProperties[i], &blockB[i]);
    return true;
}

// A manual value cannot be set while its automatic control is on, so that
// control goes first.
void DzUVCLIBIMPL::SetOne(TMaybeControl control, const TCamControlValue& record) {
    platform::TCamControlRange range;
    if (!control || (record.flags & (kCamFlagAuto | kCamFlagManual)) == 0 ||
        m_pControls->Range(*control, &range) != 0)
        return;
    const bool automatic = (record.flags & kCamFlagAuto) != 0;
    if (range.hasAuto) m_pControls->SetAutomatic(*control, automatic);
    if (automatic && range.hasAuto) return;
    m_pControls->Set(*control, std::clamp(record.value, range.minimum, range.maximum));
}

bool DzUVCLIBIMPL::SetAll(const TCamControlValue* blockA, const TCamControlValue* blockB) {
    if (!m_pControls) return false;
    for (int i = 0; i < kCamBlockA; ++i) SetOne(kPictureProperties[i], blockA[i]);
    for (int i = 0; i < kCamBlockB; ++i) SetOne(kCameraProperties[i], blockB[i]);
    return true;
}

int32_t DzUVCLIBIMPL::SetValue(int16_t property, int value) {
    if (!m_pControls) return kCamInvalidArg;
    const TMaybeControl control = CameraProperty(property);
    platform::TCamControlRange range;
    if (!control) return kCamUnsupported;
    if (const int error = m_pControls->Range(*control, &range)) return error == EINVAL ? kCamUnsupported : kCamFailed;
    if (range.hasAuto) m_pControls->SetAutomatic(*control, false);
    const int32_t clamped = std::clamp<int32_t>(value, range.minimum, range.maximum);
    return m_pControls->Set(*control, clamped) == 0 ? kCamOk : kCamFailed;
}

const char* DzUVCLIBIMPL::NameOfProperty(int16_t index) {
    return index >= 0 && index < kPropertyCount ? kPropertyNames[index] : "";
}

int DzUVCLIBIMPL::PropertyCount() {
    return kPropertyCount;
}

bool DzUVCLIBIMPL::IsSupported(int16_t property) {
    const TMaybeControl control = CameraProperty(property);
    platform::TCamControlRange range;
    return m_pControls && control && m_pControls->Range(*control, &range) == 0;
}

}  // namespace console
