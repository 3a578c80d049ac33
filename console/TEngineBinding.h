#pragma once

#include <string>

#include "engine/ICapMattEngine.h"

namespace console {

// How the console reaches the engine's factory. The program loads the engine
// library at run time; tests put a fake in its place.
class IEngineBinding {
public:
    virtual ~IEngineBinding() = default;
    // Null when there is no engine.
    virtual ICapMattEngine* Create(FrameCallback callback, void* user, unsigned int flags) = 0;
    // Stops and frees the engine and clears the holder; nothing for null.
    virtual void Release(ICapMattEngine** engine) = 0;
};

// The engine library loaded with dlopen. Loading runs the library's
// initialisation, which may show a message box, so the host's message-box
// handler must be installed first. Without the library or either factory
// symbol there is no engine; the reason is kept for the log.
class TEngineBinding final : public IEngineBinding {
public:
    static constexpr char kLibraryName[] = "libPelorn.so";

    // The library at `libraryPath`.
    explicit TEngineBinding(const std::string& libraryPath);
    ~TEngineBinding() override;
    TEngineBinding(const TEngineBinding&) = delete;
    TEngineBinding& operator=(const TEngineBinding&) = delete;

    // The library beside the running program.
    static std::string LibraryBesideProgram();

    bool IsLoaded() const { return m_pCreate != nullptr && m_pRelease != nullptr; }
    const std::string& LoadError() const { return m_strError; }

    ICapMattEngine* Create(FrameCallback callback, void* user, unsigned int flags) override;
    void Release(ICapMattEngine** engine) override;

private:
    using CreateFunction = ICapMattEngine* (*)(FrameCallback, void*, unsigned int);
    using ReleaseFunction = void (*)(ICapMattEngine**);

    void* m_hLibrary = nullptr;
    CreateFunction m_pCreate = nullptr;
    ReleaseFunction m_pRelease = nullptr;
    std::string m_strError;
};

}  // namespace console
