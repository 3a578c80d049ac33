#pragma once

#include <cstdint>
#include <memory>

struct AVBufferRef;
struct AVFrame;

namespace pelorn {

// An FFmpeg buffer reference that keeps a source's object alive for the
// pictures it delivers. A picture given the reference in its opaque_ref
// carries it wherever it is referenced or copied to, so what its opaque names
// (a stream of the object's input) stays valid until the source has let go
// and the last such picture is released.
//
// Threads: made and used on the source's thread; the object is released on
// whichever thread lets go of the last reference.
class TOwnerRef {
public:
    explicit TOwnerRef(std::shared_ptr<void> owner);
    ~TOwnerRef();
    TOwnerRef(const TOwnerRef&) = delete;
    TOwnerRef& operator=(const TOwnerRef&) = delete;

    // False when FFmpeg could not allocate the reference.
    bool IsValid() const { return m_pRef != nullptr; }
    // Gives `picture` the reference and `opaque`. False, the picture left
    // unchanged, when no reference could be taken: such a picture must not
    // be delivered, its opaque could outlive what it names.
    bool Attach(AVFrame* picture, void* opaque) const;

private:
    static void Release(void* owner, uint8_t* data);

    AVBufferRef* m_pRef = nullptr;
};

}  // namespace pelorn
