#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/V4l2Device.h"

struct v4l2_queryctrl;

namespace platform {

// The camera controls the console saves and restores, in neutral terms. The
// picture controls come first, then the camera-class ones.
enum class ECamControl : uint8_t {
    Brightness,
    Contrast,
    Hue,
    Saturation,
    Sharpness,
    Gamma,
    WhiteBalance,  // the colour temperature
    BacklightCompensation,
    Gain,
    Pan,
    Tilt,
    Zoom,
    Exposure,
    Iris,
    Focus,
    Privacy,
    PanRelative,
    TiltRelative,
    ZoomRelative,
    IrisRelative,
    FocusRelative,
    ExposureAutoPriority,
};

enum class ECamControlType { Integer, Boolean, Menu, Button };

struct TCamControlRange {
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 1;
    int32_t defaultValue = 0;
    bool hasAuto = false;  // a matching automatic control exists
};

// One control as the property pages show it.
struct TCamControlInfo {
    uint32_t id = 0;
    std::string name;
    ECamControlType type = ECamControlType::Integer;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 1;
    int32_t defaultValue = 0;
    bool inactive = false;  // set by the device while a matching automatic control is on
    bool readOnly = false;
    std::vector<std::pair<int32_t, std::string>> menu;  // the entries the device offers
};

// The device's identifier of a control and of its automatic companion (0
// when there is none), and the companion's value that means manual.
uint32_t CamControlId(ECamControl control);
uint32_t CamAutoControlId(ECamControl control);
// The automatic companion of a device control id and its manual value;
// false when the control has none.
bool CamAutoOf(uint32_t id, uint32_t* autoId, int32_t* manualValue);

// The controls of one capture node. Console thread only.
class TCameraControls {
public:
    // The first capture node, in ascending number, whose card name equals
    // `cardName` byte for byte and that has at least one control. 0, or
    // ENODEV when there is none.
    static int Open(const std::string& cardName, std::unique_ptr<TCameraControls>* controls);

    explicit TCameraControls(std::unique_ptr<IV4l2Device> device) : m_pDevice(std::move(device)) {}

    // 0 and the range, or the errno (EINVAL when the camera lacks it, EIO for
    // an empty range).
    int Range(ECamControl control, TCamControlRange* range);
    // 0 with the value and whether its automatic companion is on.
    int Get(ECamControl control, int32_t* value, bool* automatic);
    // Sets the value as given; the device refuses it (EACCES) while the
    // automatic companion is on.
    int Set(ECamControl control, int32_t value);
    // Switches the automatic companion; EINVAL when there is none.
    int SetAutomatic(ECamControl control, bool on);

    // Every enabled control of a type the pages can show, in device order.
    std::vector<TCamControlInfo> List();
    int GetById(uint32_t id, int32_t* value);
    int SetById(uint32_t id, int32_t value);

private:
    int Query(uint32_t id, v4l2_queryctrl* query);
    std::vector<std::pair<int32_t, std::string>> MenuEntries(const v4l2_queryctrl& query);
    int AutomaticValue(uint32_t autoId, int32_t manualValue, int32_t* value);
    bool IsUnderAutomaticControl(uint32_t id);

    std::unique_ptr<IV4l2Device> m_pDevice;
};

}  // namespace platform
