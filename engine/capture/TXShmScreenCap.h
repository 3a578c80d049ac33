#pragma once

#include "engine/capture/TXScreenCapBase.h"

namespace pelorn {

// The first choice: the X server writes each picture into shared memory.
class TXShmScreenCap final : public TXScreenCapBase {
public:
    explicit TXShmScreenCap(std::string displayName = {}, std::string converterPath = {})
        : TXScreenCapBase(platform::EXGrabMethod::Shm, std::move(displayName), std::move(converterPath)) {}
};

}  // namespace pelorn
