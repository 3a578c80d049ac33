#include <new>

#include "engine/EngineLibrary.h"
#include "engine/TBufEngineMain.h"
#include "engine/TCapEngineMain.h"

namespace {

// Loading and unloading the library. The constructor runs before the
// library's other static initialisers, so what it calls keeps its state in
// function-local statics.
__attribute__((constructor)) void LoadEngineLibrary() { pelorn::InitEngineLibrary(); }
__attribute__((destructor)) void UnloadEngineLibrary() { pelorn::ExitEngineLibrary(); }

}  // namespace

PELORN_API ICapMattEngine* CreateInstance_ICapMattEngine(FrameCallback callback, void* user,
                                                         unsigned int flags) {
    if (!pelorn::PrepareEngineCreation()) return nullptr;
    try {
        return new pelorn::TCapEngineMain(callback, user, flags);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PELORN_API void ReleaseInstance_ICapMattEngine(ICapMattEngine** engine) {
    if (engine == nullptr || *engine == nullptr) return;
    auto* main = static_cast<pelorn::TCapEngineMain*>(*engine);
    main->Stop();
    delete main;
    *engine = nullptr;
}

PELORN_API IBufMattEngine* CreateInstance_IBufMattEngine() {
    if (!pelorn::PrepareEngineCreation()) return nullptr;
    try {
        return new pelorn::TBufEngineMain();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PELORN_API void ReleaseInstance_IBufMattEngine(IBufMattEngine** engine) {
    if (engine == nullptr || *engine == nullptr) return;
    auto* main = static_cast<pelorn::TBufEngineMain*>(*engine);
    main->Stop();
    delete main;
    *engine = nullptr;
}
