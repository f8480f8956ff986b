// The single application object: scene setup, the per-frame function, the
// frame pacer and the speed-meter dial; and the scene's program-wide
// objects (the two models that are drawn, the light, the camera state).
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"
#include "scene/screen_quad.h"

class Model;

class Scene {
public:
    // Once, after the device exists and before the first frame: models,
    // fixed device state, light, font, dial, meter panel and sounds.
    void Setup();
    // All the work of one frame, between BeginScene and EndScene.
    void RunFrame();
    // Holds the frame until its release time (after Present).
    void PaceFrame();
    // Creates the speed-meter dial texture and its quad.
    void InitDial();

    IDirect3DTexture9* DialTexture() const { return dialTexture_; }
    const ScreenQuad& DialQuad() const { return dialQuad_; }

private:
    IDirect3DTexture9* dialTexture_ = nullptr;
    ScreenQuad dialQuad_ = {};
};

// The one scene.
extern Scene scene;

// The camera: which view, the user's offsets from the keys, and the lagging
// copy of the car's heading the camera swings after.
struct CameraState {
    std::uint8_t viewMode = 0;  // 0 chase view ("Behind"), 1 driver's eye ("DriversEye")
    std::int32_t vKeyWasUp = 0;  // 0 at start, so the first frame never toggles
    float cameraYaw = 0.0f;       // radians around the car, Q/W
    float cameraDistance = 0.0f;  // world units further back (and up, in the chase view), A/Z
    float fovOffset = 0.0f;       // degrees, -60..180, S/X
    float cameraLagHeading = 0.0f;
    bool lagHeadingSet = false;  // the first frame copies the car's heading
};
extern CameraState camera;

// The two fixed texts of the overlay: the car's caption (16 characters, at
// the top right) and the credits line (top left).
extern const char* const kCarCaption;
extern const char* const kCreditsLine;

// The course ("ct01.x") and the car ("car.x").
extern Model courseModel;
extern Model carModel;
// The scene's one directional light, filled by Setup.
extern D3DLIGHT9 sceneLight;

// Camera limits and steps per frame.
constexpr float kFovOffsetMin = -60.0f;
constexpr float kFovOffsetMax = 180.0f;
// The chase camera sits this far behind and above the car's ground point.
constexpr float kChaseDistance = 12.0f;
constexpr float kChaseHeight = 4.5f;

// The scene to its state before Setup, with the models emptied (tests run
// the program several times in one process).
void ResetSceneForTesting();
