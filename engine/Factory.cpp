#include <new>

#include "engine/TCapEngineMain.h"

PELORN_API ICapMattEngine* CreateInstance_ICapMattEngine(FrameCallback callback, void* user,
                                                         unsigned int flags) {
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
