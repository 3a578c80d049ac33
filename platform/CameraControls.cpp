#include "platform/CameraControls.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

#include "platform/CaptureDevices.h"

namespace platform {
namespace {

struct TControlMapping {
    uint32_t id;
    uint32_t autoId;      // 0: no automatic companion
    int32_t manualValue;  // the companion's value that means manual
};

// Indexed by ECamControl.
constexpr TControlMapping kMappings[] = {
    {V4L2_CID_BRIGHTNESS, 0, 0},
    {V4L2_CID_CONTRAST, 0, 0},
    {V4L2_CID_HUE, V4L2_CID_HUE_AUTO, 0},
    {V4L2_CID_SATURATION, 0, 0},
    {V4L2_CID_SHARPNESS, 0, 0},
    {V4L2_CID_GAMMA, 0, 0},
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, 0},
    {V4L2_CID_BACKLIGHT_COMPENSATION, 0, 0},
    {V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, 0},
    {V4L2_CID_PAN_ABSOLUTE, 0, 0},
    {V4L2_CID_TILT_ABSOLUTE, 0, 0},
    {V4L2_CID_ZOOM_ABSOLUTE, 0, 0},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
    {V4L2_CID_IRIS_ABSOLUTE, 0, 0},
    {V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, 0},
    {V4L2_CID_PRIVACY, 0, 0},
    {V4L2_CID_PAN_RELATIVE, 0, 0},
    {V4L2_CID_TILT_RELATIVE, 0, 0},
    {V4L2_CID_ZOOM_RELATIVE, 0, 0},
    {V4L2_CID_IRIS_RELATIVE, 0, 0},
    {V4L2_CID_FOCUS_RELATIVE, 0, 0},
    {V4L2_CID_EXPOSURE_AUTO_PRIORITY, 0, 0},
};
static_assert(std::size(kMappings) == static_cast<size_t>(ECamControl::ExposureAutoPriority) + 1);

constexpr uint32_t kNextFlags = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
// A menu wider than this is a driver fault; its entries are not walked.
constexpr int64_t kMaxMenuEntries = 256;

const TControlMapping& MappingOf(ECamControl control) {
    return kMappings[static_cast<size_t>(control)];
}

bool TypeOf(uint32_t v4l2Type, ECamControlType* type) {
    switch (v4l2Type) {
    case V4L2_CTRL_TYPE_INTEGER: *type = ECamControlType::Integer; return true;
    case V4L2_CTRL_TYPE_BOOLEAN: *type = ECamControlType::Boolean; return true;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU: *type = ECamControlType::Menu; return true;
    case V4L2_CTRL_TYPE_BUTTON: *type = ECamControlType::Button; return true;
    default: return false;
    }
}

std::string NameOf(const v4l2_queryctrl& query) {
    const char* name = reinterpret_cast<const char*>(query.name);
    return std::string(name, strnlen(name, sizeof query.name));
}

// Walks the device's controls with NEXT_CTRL until `visit` returns true. A
// device that does not move on to a higher id ends the walk.
template <typename Visit>
void WalkControls(IV4l2Device& device, Visit visit) {
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    uint32_t previous = 0;
    while (device.Ioctl(VIDIOC_QUERYCTRL, &query) == 0) {
        const uint32_t id = query.id & ~kNextFlags;
        if (id <= previous) return;
        previous = id;
        if ((query.flags & V4L2_CTRL_FLAG_DISABLED) == 0 && query.type != V4L2_CTRL_TYPE_CTRL_CLASS && visit(query))
            return;
        const uint32_t next = id | V4L2_CTRL_FLAG_NEXT_CTRL;
        query = {};
        query.id = next;
    }
}

bool HasControls(IV4l2Device& device) {
    bool found = false;
    WalkControls(device, [&found](const v4l2_queryctrl&) { return found = true; });
    return found;
}

}  // namespace

uint32_t CamControlId(ECamControl control) {
    return MappingOf(control).id;
}

uint32_t CamAutoControlId(ECamControl control) {
    return MappingOf(control).autoId;
}

bool CamAutoOf(uint32_t id, uint32_t* autoId, int32_t* manualValue) {
    for (const TControlMapping& mapping : kMappings) {
        if (mapping.id != id || mapping.autoId == 0) continue;
        *autoId = mapping.autoId;
        *manualValue = mapping.manualValue;
        return true;
    }
    return false;
}

int TCameraControls::Open(const std::string& cardName, std::unique_ptr<TCameraControls>* controls) {
    std::unique_ptr<IV4l2Device> found;
    WalkCaptureNodes([&](const TCaptureNode& node, std::unique_ptr<IV4l2Device>& device) {
        if (node.cardName != cardName || !HasControls(*device)) return false;
        found = std::move(device);
        return true;
    });
    if (!found) return ENODEV;
    *controls = std::make_unique<TCameraControls>(std::move(found));
    return 0;
}

int TCameraControls::Query(uint32_t id, v4l2_queryctrl* query) {
    *query = {};
    query->id = id;
    if (int error = m_pDevice->Ioctl(VIDIOC_QUERYCTRL, query)) return error;
    return (query->flags & V4L2_CTRL_FLAG_DISABLED) != 0 ? EINVAL : 0;
}

int TCameraControls::Range(ECamControl control, TCamControlRange* range) {
    v4l2_queryctrl query;
    if (int error = Query(CamControlId(control), &query)) return error;
    if (query.minimum > query.maximum) return EIO;  // a driver fault: no value fits
    range->minimum = query.minimum;
    range->maximum = query.maximum;
    range->step = query.step;
    range->defaultValue = query.default_value;
    v4l2_queryctrl automatic;
    range->hasAuto = CamAutoControlId(control) != 0 && Query(CamAutoControlId(control), &automatic) == 0;
    return 0;
}

int TCameraControls::AutomaticValue(uint32_t autoId, int32_t manualValue, int32_t* value) {
    v4l2_queryctrl query;
    if (Query(autoId, &query) != 0) return EINVAL;
    if (query.type == V4L2_CTRL_TYPE_BOOLEAN) {
        *value = manualValue == 0 ? 1 : 0;
        return 0;
    }
    // A menu: its first offered entry other than manual.
    for (const auto& [index, name] : MenuEntries(query)) {
        if (index == manualValue) continue;
        *value = index;
        return 0;
    }
    return EINVAL;
}

int TCameraControls::Get(ECamControl control, int32_t* value, bool* automatic) {
    if (int error = GetById(CamControlId(control), value)) return error;
    *automatic = false;
    const TControlMapping& mapping = MappingOf(control);
    int32_t autoValue = 0;
    if (mapping.autoId != 0 && GetById(mapping.autoId, &autoValue) == 0)
        *automatic = autoValue != mapping.manualValue;
    return 0;
}

int TCameraControls::Set(ECamControl control, int32_t value) {
    return SetById(CamControlId(control), value);
}

int TCameraControls::SetAutomatic(ECamControl control, bool on) {
    const TControlMapping& mapping = MappingOf(control);
    if (mapping.autoId == 0) return EINVAL;
    int32_t value = mapping.manualValue;
    if (on) {
        if (int error = AutomaticValue(mapping.autoId, mapping.manualValue, &value)) return error;
    }
    return SetById(mapping.autoId, value);
}

std::vector<std::pair<int32_t, std::string>> TCameraControls::MenuEntries(const v4l2_queryctrl& query) {
    std::vector<std::pair<int32_t, std::string>> entries;
    if (static_cast<int64_t>(query.maximum) - query.minimum >= kMaxMenuEntries || query.minimum < 0) return entries;
    for (int32_t index = query.minimum; index <= query.maximum; ++index) {
        v4l2_querymenu menu{};
        menu.id = query.id;
        menu.index = static_cast<uint32_t>(index);
        if (m_pDevice->Ioctl(VIDIOC_QUERYMENU, &menu) != 0) continue;
        if (query.type == V4L2_CTRL_TYPE_INTEGER_MENU) {
            entries.emplace_back(index, std::to_string(menu.value));
        } else {
            const char* name = reinterpret_cast<const char*>(menu.name);
            entries.emplace_back(index, std::string(name, strnlen(name, sizeof menu.name)));
        }
    }
    return entries;
}

// Drivers that do not flag a value control inactive while its automatic
// companion is on still refuse its values then.
bool TCameraControls::IsUnderAutomaticControl(uint32_t id) {
    uint32_t autoId = 0;
    int32_t manualValue = 0;
    int32_t value = 0;
    return CamAutoOf(id, &autoId, &manualValue) && GetById(autoId, &value) == 0 && value != manualValue;
}

std::vector<TCamControlInfo> TCameraControls::List() {
    std::vector<v4l2_queryctrl> queries;
    WalkControls(*m_pDevice, [&queries](const v4l2_queryctrl& query) {
        queries.push_back(query);
        return false;
    });
    std::vector<TCamControlInfo> controls;
    for (const v4l2_queryctrl& query : queries) {
        TCamControlInfo info;
        if (!TypeOf(query.type, &info.type)) continue;
        info.id = query.id;
        info.name = NameOf(query);
        info.minimum = query.minimum;
        info.maximum = query.maximum;
        info.step = query.step;
        info.defaultValue = query.default_value;
        info.inactive = (query.flags & V4L2_CTRL_FLAG_INACTIVE) != 0 || IsUnderAutomaticControl(query.id);
        info.readOnly = (query.flags & V4L2_CTRL_FLAG_READ_ONLY) != 0;
        if (info.type == ECamControlType::Menu) info.menu = MenuEntries(query);
        controls.push_back(std::move(info));
    }
    return controls;
}

int TCameraControls::GetById(uint32_t id, int32_t* value) {
    v4l2_control control{};
    control.id = id;
    if (int error = m_pDevice->Ioctl(VIDIOC_G_CTRL, &control)) return error;
    *value = control.value;
    return 0;
}

int TCameraControls::SetById(uint32_t id, int32_t value) {
    v4l2_control control{};
    control.id = id;
    control.value = value;
    return m_pDevice->Ioctl(VIDIOC_S_CTRL, &control);
}

}  // namespace platform
