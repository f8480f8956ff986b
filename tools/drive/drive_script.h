// Key scripts for the drive tool: which keys are held on which frames.
//   FROM-TO KEY KEY ...     keys held on frames FROM to TO, both included
// Frames count from 0 (the first frame drawn); key names are
// G F A Z S X Q W E V Left Right (any case); '#' starts a comment. Ranges
// may overlap: a frame holds every key of every range that covers it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/shell/headless.h"

struct DriveScript {
    KeyScript keys;             // for the headless window system
    std::uint64_t lastFrame = 0;  // the last frame any range covers
    bool empty = true;
};

// Script text: one range a line. `--keys` text: ranges separated by ';'.
// False with `error` naming the line (or entry) and the fault.
bool ParseDriveScript(const std::string& text, DriveScript* script, std::string* error);
bool ParseDriveKeys(const std::string& text, DriveScript* script, std::string* error);

// The virtual key for a name of the list above, or 0.
int DriveKeyCode(const std::string& name);
