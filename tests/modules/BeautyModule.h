#pragma once

// The image plug-in "TBeautySkin.dat" as the tests use it.

#include "tests/modules/ModuleTestSupport.h"

namespace moduletest {

inline TModuleHandle& BeautySkin() {
    static TModuleHandle module(BEAUTY_MODULE_PATH);
    return module;
}

inline TurnFn TurnClockwise() { return BeautySkin().Entry<TurnFn>(4); }
inline TurnFn TurnCounterClockwise() { return BeautySkin().Entry<TurnFn>(6); }
inline BeautyFn Beauty() { return BeautySkin().Entry<BeautyFn>(156); }

}  // namespace moduletest
