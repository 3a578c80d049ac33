#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "console/DzUVCLIBIMPL.h"
#include "platform/CaptureDevices.h"

namespace console {
namespace {

// A real camera, where the machine has one: its saved set reads back as it
// was written. The values written are the ones read, so the camera is left
// as it was found.
TEST(CameraDeviceTest, SavedSetOfARealCameraReadsBackUnchanged) {
    if (std::getenv("QUINDLE_CAMERA_STANDIN") != nullptr) GTEST_SKIP() << "a stand-in camera is configured";
    platform::InstallCameraBackend(nullptr);
    DzUVCLIBIMPL camera;
    std::string card;
    for (const platform::TCaptureNode& node : platform::ListCaptureNodes()) {
        if (camera.Open(node.cardName.c_str())) {
            card = node.cardName;
            break;
        }
    }
    if (card.empty()) GTEST_SKIP() << "no capture node with controls";
    TCamControlValue blockA[kCamBlockA] = {}, blockB[kCamBlockB] = {};
    ASSERT_TRUE(camera.GetAll(blockA, blockB));
    ASSERT_TRUE(camera.SetAll(blockA, blockB));
    TCamControlValue readA[kCamBlockA] = {}, readB[kCamBlockB] = {};
    ASSERT_TRUE(camera.GetAll(readA, readB));
    const auto expectSame = [&card](const TCamControlValue* written, const TCamControlValue* read, int count) {
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(read[i].flags, written[i].flags) << card << " control " << i;
            // An automatic control may move its value meanwhile.
            const int32_t expected = written[i].flags == kCamFlagManual ? written[i].value : read[i].value;
            EXPECT_EQ(read[i].value, expected) << card << " control " << i;
        }
    };
    expectSame(blockA, readA, kCamBlockA);
    expectSame(blockB, readB, kCamBlockB);
}

}  // namespace
}  // namespace console
