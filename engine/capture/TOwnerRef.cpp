#include "engine/capture/TOwnerRef.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

namespace pelorn {

TOwnerRef::TOwnerRef(std::shared_ptr<void> owner) {
    auto* held = new std::shared_ptr<void>(std::move(owner));
    m_pRef = av_buffer_create(nullptr, 0, &TOwnerRef::Release, held, 0);
    if (m_pRef == nullptr)
        delete held;
}

TOwnerRef::~TOwnerRef() {
    av_buffer_unref(&m_pRef);
}

bool TOwnerRef::Attach(AVFrame* picture, void* opaque) const {
    if (m_pRef == nullptr || av_buffer_replace(&picture->opaque_ref, m_pRef) < 0)
        return false;
    picture->opaque = opaque;
    return true;
}

void TOwnerRef::Release(void* owner, uint8_t*) {
    delete static_cast<std::shared_ptr<void>*>(owner);
}

}  // namespace pelorn
