// pelorn-smoke: loads the engine library as the console does and takes one
// engine through create, open without a source, stop and release, printing
// each step. Exit status 0 when every step did what it should.

#include <cstdio>

#include "common/ErrorTrail.h"
#include "engine/ICapMattEngine.h"

namespace {

long OnFrame(unsigned char*, void*, int) { return 0; }

int Fail(const char* step) {
    std::fprintf(stderr, "pelorn-smoke: %s failed\n%s\n", step, common::ErrorTrail::Take().c_str());
    return 1;
}

}  // namespace

int main() {
    ICapMattEngine* engine = CreateInstance_ICapMattEngine(&OnFrame, nullptr, 0xFFFFFFFF);
    if (engine == nullptr) return Fail("CreateInstance_ICapMattEngine");
    std::printf("created\n");

    TCapOpenParam param = TCapOpenParam::WithoutSources(1920, 1080, 28, 30);
    if (engine->Open(&param) != 0) return Fail("Open");
    if (engine->GetOpenParam() == nullptr) return Fail("GetOpenParam after Open");
    std::printf("opened %dx%d format %d, state %d\n", param.outWidth, param.outHeight,
                param.outFormat, engine->GetState(nullptr));

    engine->Stop();
    if (engine->GetOpenParam() != nullptr) return Fail("Stop");
    std::printf("stopped\n");

    ReleaseInstance_ICapMattEngine(&engine);
    if (engine != nullptr) return Fail("ReleaseInstance_ICapMattEngine");
    std::printf("released\n");
    return 0;
}
