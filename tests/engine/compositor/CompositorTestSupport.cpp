#include "tests/engine/compositor/CompositorTestSupport.h"

#include <sys/stat.h>

#include "engine/modules/BrenvikDLL.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"
#include "tools/compose-still/SyntheticScene.h"

namespace pelorn::testing_support {

bool EnsureConverterModule() {
    const std::string path = ModuleFolder() + "/" + BrenvikDLL::kFileName;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return true;
    ModuleExtractor::ExtractInstalled();
    return ::stat(path.c_str(), &info) == 0;
}

TCapLayout PresenterLayout(int width, int height, int left, int top, int right, int bottom,
                           int32_t flag) {
    TCapLayout layout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.LayerCnt = 1;
    layout.MaxWidth = width;
    layout.MaxHeight = height;
    layout.layers[0] = {TCapLayer::kPresenter,
                        flag,
                        1,
                        {{left, top}, {right, top}, {right, bottom}, {left, bottom}}};
    return layout;
}

TCapLayout FullScreenLayout(int width, int height) {
    return PresenterLayout(width, height, 0, 0, width - 1, height - 1);
}

TScene MakeScene(int width, int height) {
    tools::TSyntheticScene scene = tools::MakePresenterScene(width, height);
    TScene out{width,
               height,
               std::move(scene.bgr),
               std::move(scene.coverage),
               std::move(scene.shadow),
               {},
               tools::MakeCanvas(width, height)};
    out.yuyv = tools::ToYuyv(out.bgr, width, height);
    return out;
}

}  // namespace pelorn::testing_support
