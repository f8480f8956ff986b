// Process entry and the message loop.
#include <cstdio>

#include "app/app.h"
#include "app/device.h"
#include "app/shell_state.h"
#include "resources/resource_ids.h"
#include "scene/scene.h"

namespace {

// The device and the Direct3D object are given back when the program ends.
void ReleaseDevice() {
    if (device) device->Release();
    if (direct3D) direct3D->Release();
    device = nullptr;
    direct3D = nullptr;
}

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    LoadStringA(instance, IDS_APP_TITLE, windowTitle, sizeof windowTitle);
    LoadStringA(instance, IDC_VINTREL, windowClassName, sizeof windowClassName);
    RegisterMainWindowClass(instance);
    if (!CreateMainWindowAndDevice(instance, showCommand)) {
        ReleaseDevice();
        return 1;
    }
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_VINTREL));

    scene.Setup();

    MSG message = {};
    int exitCode = 0;
    for (;;) {
        // Every waiting message is handled before anything is drawn.
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                exitCode = static_cast<int>(message.wParam);
                break;
            }
            if (!TranslateAcceleratorA(mainWindow, accelerators, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            continue;
        }
        if (!device) continue;
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_ARGB(0xFF, 0xA0, 0xA0, 0xF0),
                      1.0f, 0);
        device->BeginScene();
        scene.RunFrame();
        device->EndScene();
        HRESULT hr = device->Present(nullptr, nullptr, nullptr, nullptr);
        if (FAILED(hr)) {
            // Without a device there is nothing left to show; say why.
            std::fprintf(stderr, "vintrel: the device was lost (Present failed with 0x%08X)\n",
                         static_cast<unsigned>(hr));
            exitCode = 1;
            break;
        }
        scene.PaceFrame();
    }
    ReleaseDevice();
    return exitCode;
}
