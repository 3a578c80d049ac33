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

// Both engines are made and released alike.
template <typename TMain, typename... TArgs>
TMain* CreateEngine(TArgs... args) {
    if (!pelorn::PrepareEngineCreation()) return nullptr;
    try {
        return new TMain(args...);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

template <typename TMain, typename TInterface>
void ReleaseEngine(TInterface** engine) {
    if (engine == nullptr || *engine == nullptr) return;
    auto* main = static_cast<TMain*>(*engine);
    main->Stop();
    delete main;
    *engine = nullptr;
}

}  // namespace

PELORN_API ICapMattEngine* CreateInstance_ICapMattEngine(FrameCallback callback, void* user,
                                                         unsigned int flags) {
    return CreateEngine<pelorn::TCapEngineMain>(callback, user, flags);
}

PELORN_API void ReleaseInstance_ICapMattEngine(ICapMattEngine** engine) {
    ReleaseEngine<pelorn::TCapEngineMain>(engine);
}

PELORN_API IBufMattEngine* CreateInstance_IBufMattEngine() { return CreateEngine<pelorn::TBufEngineMain>(); }

PELORN_API void ReleaseInstance_IBufMattEngine(IBufMattEngine** engine) {
    ReleaseEngine<pelorn::TBufEngineMain>(engine);
}
