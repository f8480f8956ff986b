// The same scene through fixed-function OpenGL on whatever EGL offers
// (Mesa's llvmpipe on a machine without a GPU). LP_NUM_THREADS must be set
// before Init.
#pragma once

#include <string>

#include "bench/render/bench_scene.h"

namespace bench {

class GlPeer {
public:
    // False, with a reason, when no EGL/GL context can be had.
    bool Init(const Scene& scene, std::string& error);
    void DrawFrame();  // returns when the frame is finished
    std::string Renderer() const { return renderer_; }

private:
    const Scene* scene_ = nullptr;
    unsigned textures_[3] = {0, 0, 0};
    unsigned buffers_[2] = {0, 0};
    std::string renderer_;
};

}  // namespace bench
