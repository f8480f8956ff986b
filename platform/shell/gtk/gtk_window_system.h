// The window system on a real display, with GTK 3: a GtkWindow per window
// with a menu bar built from the menu resource and a drawing area that shows
// each presented frame scaled to its size; dialogs built from their
// templates; message boxes as GtkMessageDialogs; Present paced to the
// display's refresh. Linked by the program only.
#pragma once

#include <memory>
#include <string>

#include "platform/shell/window_system.h"

// Opens the display; null with the reason in `error` when it cannot.
std::unique_ptr<WindowSystem> CreateGtkWindowSystem(std::string* error);
