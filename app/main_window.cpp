// The main window: its class, its creation together with the device, its
// procedure (the menu commands) and the About box.
#include <cstdio>

#include "app/app.h"
#include "app/device.h"
#include "app/shell_state.h"
#include "resources/resource_ids.h"

HINSTANCE instanceHandle = nullptr;
HWND mainWindow = nullptr;
char windowTitle[100];
char windowClassName[100];
IDirect3D9* direct3D = nullptr;
IDirect3DDevice9* device = nullptr;
D3DPRESENT_PARAMETERS presentParameters;

namespace {
Direct3DCreateFunction direct3DCreate = nullptr;
}

IDirect3DDevice9* GetDevice() { return device; }
IDirect3D9* GetDirect3D() { return direct3D; }
const D3DPRESENT_PARAMETERS& GetPresentParameters() { return presentParameters; }
void SetDirect3DCreateForTesting(Direct3DCreateFunction create) { direct3DCreate = create; }
HWND GetMainWindow() { return mainWindow; }

ATOM RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA wc;
    wc.cbSize = sizeof(WNDCLASSEXA);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VINTREL));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = MAKEINTRESOURCEA(IDC_VINTREL);
    wc.lpszClassName = windowClassName;
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    return RegisterClassExA(&wc);
}

BOOL CreateMainWindowAndDevice(HINSTANCE instance, int showCommand) {
    instanceHandle = instance;
    mainWindow = CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 0, windowWidth, windowHeight, nullptr, nullptr, instance, nullptr);
    if (!mainWindow) {
        std::fprintf(stderr, "vintrel: cannot create the main window (error %u)\n",
                     static_cast<unsigned>(GetLastError()));
        return FALSE;
    }
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    direct3D = (direct3DCreate ? direct3DCreate : Direct3DCreate9)(D3D_SDK_VERSION);
    if (!direct3D) {
        std::fprintf(stderr, "vintrel: cannot create the Direct3D object\n");
        return FALSE;
    }

    presentParameters = D3DPRESENT_PARAMETERS{};
    presentParameters.BackBufferWidth = windowWidth;
    presentParameters.BackBufferHeight = windowHeight;
    presentParameters.BackBufferFormat = D3DFMT_R5G6B5;
    presentParameters.BackBufferCount = 0;
    presentParameters.MultiSampleType = D3DMULTISAMPLE_NONE;
    presentParameters.MultiSampleQuality = 0;
    presentParameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParameters.hDeviceWindow = nullptr;  // the focus window serves
    presentParameters.Windowed = windowed;
    presentParameters.EnableAutoDepthStencil = TRUE;
    presentParameters.AutoDepthStencilFormat = D3DFMT_D16;
    presentParameters.Flags = 0;
    presentParameters.FullScreen_RefreshRateInHz = 0;
    presentParameters.PresentationInterval = 0;  // default: one frame per display refresh

    HRESULT hr = direct3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mainWindow,
                                        D3DCREATE_SOFTWARE_VERTEXPROCESSING, &presentParameters,
                                        &device);
    if (FAILED(hr) || !device) {
        std::fprintf(stderr, "vintrel: cannot create the Direct3D device (0x%08X)\n",
                     static_cast<unsigned>(hr));
        device = nullptr;
        return FALSE;
    }

    D3DVIEWPORT9 viewport;
    viewport.X = 0;
    viewport.Y = 0;
    viewport.Width = presentParameters.BackBufferWidth;
    viewport.Height = presentParameters.BackBufferHeight;
    viewport.MinZ = 0.0f;
    viewport.MaxZ = 1.0f;
    device->SetViewport(&viewport);
    return TRUE;
}

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDM_ABOUT:
                    DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_ABOUTBOX), window,
                                    AboutDialogProc, 0);
                    return 0;
                case IDM_EXIT: DestroyWindow(window); return 0;
                default: return DefWindowProcA(window, message, wParam, lParam);
            }
        case WM_PAINT: {
            // Nothing is drawn here: the next frame repaints the window.
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY: PostQuitMessage(0); return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

INT_PTR AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default: return FALSE;
    }
}
