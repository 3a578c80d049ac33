#pragma once

#include <memory>
#include <optional>

#include "console/IDzUVCLIB.h"
#include "platform/CameraControls.h"

namespace console {

// Camera control over the capture node's own controls: block A through the
// picture controls its names describe, block B and the property table
// through the camera-class controls.
class DzUVCLIBIMPL final : public IDzUVCLIB {
public:
    static constexpr int kPropertyCount = 20;

    bool Open(const char* name) override;
    int32_t ShowPropertyPages(QWidget* owner, int x, int y) override;
    bool GetAll(TCamControlValue* blockA, TCamControlValue* blockB) override;
    bool SetAll(const TCamControlValue* blockA, const TCamControlValue* blockB) override;
    int32_t SetValue(int16_t property, int value) override;
    const char* NameOfProperty(int16_t index) override;
    int PropertyCount() override;
    bool IsSupported(int16_t property) override;

private:
    void GetOne(std::optional<platform::ECamControl> control, TCamControlValue* record);
    void SetOne(std::optional<platform::ECamControl> control, const TCamControlValue& record);

    std::unique_ptr<platform::TCameraControls> m_pControls;
};

}  // namespace console
