// The single application object: scene setup, the per-frame function, the
// frame pacer and the speed-meter dial.
#pragma once

#include "scene/screen_quad.h"

class Scene {
public:
    // Once, after the device exists and before the first frame.
    void Setup();
    // All the work of one frame, between BeginScene and EndScene.
    void RunFrame();
    // Holds the frame until its release time (after Present).
    void PaceFrame();
    // Creates the speed-meter dial texture and its quad.
    void InitDial();

private:
    IDirect3DTexture9* dialTexture_ = nullptr;
    ScreenQuad dialQuad_ = {};
};

// The one scene.
extern Scene scene;
