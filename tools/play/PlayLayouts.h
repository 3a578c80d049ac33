#pragma once

#include "engine/TCapLayout.h"
#include "tools/play/TPlayOptions.h"

namespace pelorn::play {

// The console's templates on a 1920 x 1080 canvas: "全屏" (presenter and
// frame layer over the whole picture), "双视窗" (both side by side at half
// size, vertically centred) and the default editable one, "自定义3".
TCapLayout BuiltInLayout(TLayoutChoice choice);

}  // namespace pelorn::play
