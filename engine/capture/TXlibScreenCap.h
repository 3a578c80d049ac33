#pragma once

#include "engine/capture/TXScreenCapBase.h"

namespace pelorn {

// The fallback: each picture travels through the X connection.
class TXlibScreenCap final : public TXScreenCapBase {
public:
    explicit TXlibScreenCap(std::string displayName = {}, std::string converterPath = {})
        : TXScreenCapBase(platform::EXGrabMethod::Plain, std::move(displayName), std::move(converterPath)) {}
};

}  // namespace pelorn
