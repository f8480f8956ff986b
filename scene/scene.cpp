// Scene setup and the per-frame function: the fixed device state, both
// camera views with their keys, the 3D pass (car and course) and the 2D
// pass (overlay text and speed meter), in one fixed order per frame.
#include "scene/scene.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/app.h"
#include "app/device.h"
#include "geometry/math.h"
#include "platform/win32/keyboard.h"
#include "scene/meter_panel.h"
#include "scene/model.h"
#include "scene/text_overlay.h"
#include "sound/sound_set.h"
#include "texture/texture_from_file.h"
#include "vehicle/vehicle_state.h"

// Construction order of the scene's statics: overlay (text_overlay.cpp),
// course, car. The marker meshes of the data set are never drawn, so they
// are not loaded.
Model courseModel;
Model carModel;
Scene scene;
CameraState camera;
D3DLIGHT9 sceneLight;

namespace {

constexpr float kDegrees = 0.017453292f;  // radians per degree
constexpr float kAspect = 1.3333334f;
constexpr int kViewKey = 0x56;  // V

bool Held(int key) { return GetKeyState(key) < 0; }

DWORD FloatBits(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

void SetMatrix(IDirect3DDevice9* device, D3DTRANSFORMSTATETYPE state, const Matrix& m) {
    D3DMATRIX d3d;
    static_assert(sizeof d3d == sizeof m);
    std::memcpy(&d3d, &m, sizeof d3d);
    device->SetTransform(state, &d3d);
}

// Font and dial: size and format from the file, one level, no filtering.
IDirect3DTexture9* LoadOverlayTexture(IDirect3DDevice9* device, const char* fileName) {
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(CreateTextureFromFileEx(device, fileName, 0, 0, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, 1, 1, 0,
                                       nullptr, nullptr, &texture)))
        return nullptr;
    return texture;
}

// The fixed lines: help, car caption and credits.
void AddFixedLines() {
    textOverlay.AddText(0, 16, "Vintrel Test #02/Nov 1,2003");
    textOverlay.AddText(0, 32, "CursorLR: Handle.");
    textOverlay.AddText(0, 48, "Q,W     : Camera rot.");
    textOverlay.AddText(0, 64, "A,Z     : Camera move.");
    textOverlay.AddText(0, 80, "S,X     : Perspective view.");
    textOverlay.AddText(0, 96, "G,F     : Acc,Brk.");
    textOverlay.AddText(0, 112, "E       : Reset.");
    textOverlay.AddText(0, 128, "V       : View Change.");
    textOverlay.AddText(512, 0, kCarCaption);
    textOverlay.AddText(0, 0, kCreditsLine);
}

void ApplyCameraKeys() {
    if (Held('A')) camera.cameraDistance += 0.1f;
    if (Held('Z')) camera.cameraDistance -= 0.1f;
    if (Held('S')) camera.fovOffset += 0.1f;
    if (Held('X')) camera.fovOffset -= 0.1f;
    if (camera.fovOffset < kFovOffsetMin)
        camera.fovOffset = kFovOffsetMin;
    else if (camera.fovOffset > kFovOffsetMax)
        camera.fovOffset = kFovOffsetMax;
    if (Held('Q')) camera.cameraYaw += 0.01f;
    if (Held('W')) camera.cameraYaw -= 0.01f;
    // Last, so it wins over the other camera keys of the same frame.
    if (Held('E')) {
        camera.cameraYaw = 0.0f;
        camera.cameraDistance = 0.0f;
        camera.fovOffset = 0.0f;
    }
}

// The car's world matrix: scaled to the course, nose lifted with speed,
// tilted, turned a little beyond the heading while steering, on the ground.
Matrix CarWorldMatrix() {
    Matrix scaling, rotationX, rotationZ, rotationY, translation, world;
    BuildScalingMatrix(&scaling, 0.1f, 0.1f, 0.1f);
    BuildRotationXMatrix(&rotationX, vehicle.noseTilt + 0.05f * vehicle.stepLength);
    BuildRotationZMatrix(&rotationZ, vehicle.sideTilt);
    BuildRotationYMatrix(&rotationY, vehicle.heading + 6.0f * vehicle.steer);
    BuildTranslationMatrix(&translation, vehicle.posX, vehicle.posY + vehicle.shake, vehicle.posZ);
    MultiplyMatrices(&world, &scaling, &rotationX);
    MultiplyMatrices(&world, &world, &rotationZ);
    MultiplyMatrices(&world, &world, &rotationY);
    MultiplyMatrices(&world, &world, &translation);
    return world;
}

}  // namespace

const char* const kCarCaption = "Kestrel GT 2.0 R";  // 16 characters
const char* const kCreditsLine = "Vintrel: one car, one course, drawn by its own software device";

void Scene::Setup() {
    IDirect3DDevice9* device = GetDevice();

    courseModel.LoadModel("ct01.x");
    carModel.LoadModel("car.x");

    Matrix view, projection, world;
    const Vector3 eye = {0.0f, 200.0f, -400.0f}, at = {0.0f, 0.0f, 0.0f}, up = {0.0f, 1.0f, 0.0f};
    BuildLookAtMatrixLeftHanded(&view, &eye, &at, &up);
    BuildPerspectiveMatrixLeftHanded(&projection, 1.3962634f, kAspect, 1.1f, 30000.0f);
    BuildTranslationMatrix(&world, 0.0f, 0.0f, 0.0f);
    SetMatrix(device, D3DTS_WORLD, world);
    SetMatrix(device, D3DTS_VIEW, view);
    SetMatrix(device, D3DTS_PROJECTION, projection);

    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);

    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);

    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);

    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGCOLOR, 0xFF909080);
    device->SetRenderState(D3DRS_FOGSTART, FloatBits(0.0f));
    device->SetRenderState(D3DRS_FOGEND, FloatBits(1200.0f));
    device->SetRenderState(D3DRS_FOGDENSITY, FloatBits(0.4f));
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);

    sceneLight = D3DLIGHT9{};
    sceneLight.Type = D3DLIGHT_DIRECTIONAL;
    sceneLight.Diffuse = {0.125f, 0.125f, 0.125f, 0.0f};
    sceneLight.Specular = {0.3f, 0.3f, 0.3f, 0.0f};
    sceneLight.Ambient = {0.5f, 0.5f, 0.5f, 0.0f};
    sceneLight.Direction = {0.8f, -1.0f, 0.0f};  // the device normalises it
    device->SetLight(0, &sceneLight);
    device->LightEnable(0, TRUE);

    textOverlay.fontTexture = LoadOverlayTexture(device, "font.dds");
    InitDial();
    meterPanel = new MeterPanel(dialTexture_);

    soundSet = new SoundSet;
    soundSet->directSound = nullptr;
    soundSet->InitSound(GetMainWindow());
}

void Scene::InitDial() {
    dialTexture_ = LoadOverlayTexture(GetDevice(), "SpeedMeter.dds");
    // The dial fills the bottom-right 256 x 128 pixels, the top half of the texture.
    const float corners[4][4] = {{383.5f, 351.5f, 0.0f, 0.0f},
                                 {639.5f, 351.5f, 1.0f, 0.0f},
                                 {639.5f, 479.5f, 1.0f, 0.5f},
                                 {383.5f, 479.5f, 0.0f, 0.5f}};
    SetQuad(dialQuad_, corners);
}

void Scene::RunFrame() {
    IDirect3DDevice9* device = GetDevice();

    if (!camera.lagHeadingSet) {
        camera.cameraLagHeading = vehicle.heading;
        camera.lagHeadingSet = true;
    }

    textOverlay.ClearOverlay();
    AddFixedLines();

    vehicle.StepDrivetrain();
    vehicle.StepMotion();

    ApplyCameraKeys();

    // Built with the view mode as it stood before this frame's toggle, so
    // a switch shows its field of view from the next frame.
    float fovY = ((camera.viewMode == 1 ? 20.0f : 0.0f) + camera.fovOffset + 80.0f) * kDegrees;
    Matrix projection;
    BuildPerspectiveMatrixLeftHanded(&projection, fovY, kAspect, 0.5f, 40000.0f);
    SetMatrix(device, D3DTS_PROJECTION, projection);

    if (Held(kViewKey) && camera.vKeyWasUp == 1) camera.viewMode = std::uint8_t(1 - camera.viewMode);
    camera.vKeyWasUp = Held(kViewKey) ? 0 : 1;

    vehicle.ProbeGround(courseModel);

    char line[128];
    std::snprintf(line, sizeof line, "View:%s", camera.viewMode == 1 ? "DriversEye" : "Behind");
    textOverlay.AddText(0, 416, line);
    vehicle.AddEngineLine();
    vehicle.AddPositionLine();
    vehicle.AddProbeLine();

    vehicle.UpdateOffCourseSound();

    // Both views look along the car's travel from behind it: it moves along
    // (-sin, 0, -cos) of its heading, so +(sin, cos) of the lagging heading
    // is behind.
    float angle = camera.cameraYaw + camera.cameraLagHeading;
    float sinA = std::sin(angle), cosA = std::cos(angle);
    Vector3 eye, target;
    const Vector3 up = {0.0f, 1.0f, 0.0f};
    float lag;
    if (camera.viewMode == 0) {
        float distance = camera.cameraDistance + kChaseDistance;
        eye = {vehicle.posX + distance * sinA, camera.cameraDistance + vehicle.shake + kChaseHeight + vehicle.posY,
               vehicle.posZ + distance * cosA};
        target = {vehicle.posX, vehicle.posY + kChaseHeight, vehicle.posZ};
        lag = 0.33333334f;
    } else {
        eye = {vehicle.posX + 0.5f * sinA, vehicle.posY + 3.5f + 0.15f * vehicle.shake, vehicle.posZ + 0.5f * cosA};
        target = {vehicle.posX, vehicle.posY + 3.5f, vehicle.posZ};
        lag = 0.41666666f;
    }
    Matrix view;
    BuildLookAtMatrixLeftHanded(&view, &eye, &target, &up);
    SetMatrix(device, D3DTS_VIEW, view);
    camera.cameraLagHeading = camera.cameraLagHeading + (vehicle.heading - camera.cameraLagHeading) * lag;

    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetRenderState(D3DRS_DITHERENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);

    // From the driver's seat the car itself is not seen.
    if (camera.viewMode == 0) {
        SetMatrix(device, D3DTS_WORLD, CarWorldMatrix());
        carModel.DrawModel();
    }
    Matrix world;
    BuildTranslationMatrix(&world, 0.0f, 0.0f, 0.0f);
    SetMatrix(device, D3DTS_WORLD, world);
    courseModel.DrawModel();

    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    textOverlay.DrawOverlay();

    device->SetTexture(0, dialTexture_);
    device->SetFVF(kScreenVertexFvf);
    DrawQuad(device, dialQuad_);

    if (soundSet) soundSet->UpdateEngineSound(vehicle.engineRpm);

    if (meterPanel) {
        meterPanel->SetValues(vehicle.speed, vehicle.targetSpeed, vehicle.engineRpm, vehicle.targetRpm, vehicle.gear);
        meterPanel->DrawMeterPanel();
    }
}

void ResetSceneForTesting() {
    courseModel.~Model();
    new (&courseModel) Model();
    carModel.~Model();
    new (&carModel) Model();
    camera = CameraState{};
    sceneLight = D3DLIGHT9{};
    textOverlay.ClearOverlay();
    if (textOverlay.fontTexture) textOverlay.fontTexture->Release();
    textOverlay.fontTexture = nullptr;
    if (scene.DialTexture()) scene.DialTexture()->Release();
    scene = Scene{};
    delete meterPanel;
    meterPanel = nullptr;
    delete soundSet;
    soundSet = nullptr;
    vehicle = VehicleState{};
}
