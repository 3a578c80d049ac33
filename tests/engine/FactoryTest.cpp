// Drives the engine only through the exported functions of the shared library,
// as the console does.

#include <gtest/gtest.h>

#include "common/ErrorTrail.h"
#include "engine/ICapMattEngine.h"

namespace {

TCapOpenParam NoSourceParam() { return TCapOpenParam::WithoutSources(1920, 1080, 28, 30); }

TEST(EngineFactoryTest, CreateAndReleaseThroughTheExportedFunctions) {
    ICapMattEngine* engine = CreateInstance_ICapMattEngine(nullptr, nullptr, 0);
    ASSERT_NE(engine, nullptr);
    TCapOpenParam param = NoSourceParam();
    EXPECT_EQ(engine->Open(&param), 0);
    ReleaseInstance_ICapMattEngine(&engine);
    EXPECT_EQ(engine, nullptr);
    ReleaseInstance_ICapMattEngine(&engine);  // a pointer to null: nothing
    ReleaseInstance_ICapMattEngine(nullptr);
}

TEST(EngineFactoryTest, LibraryAndProgramShareOneErrorTrail) {
    common::ErrorTrail::Take();
    ICapMattEngine* engine = CreateInstance_ICapMattEngine(nullptr, nullptr, 0);
    ASSERT_NE(engine, nullptr);
    TCapOpenParam param = NoSourceParam();
    param.outFormat = 2;
    EXPECT_EQ(engine->Open(&param), 1);
    // Written by the library's copy of the trail, read by the program's.
    EXPECT_EQ(common::ErrorTrail::Take(), "不支持的颜色输出格式\r");
    ReleaseInstance_ICapMattEngine(&engine);
}

}  // namespace
