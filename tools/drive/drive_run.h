// Runs the whole program in-process on the headless window system: the
// shell, the scene and the car, with keys from a script, for a number of
// frames, and measures it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "drive_script.h"
#include "platform/shell/headless.h"

struct DriveShot {
    std::uint64_t frame = 0;
    std::string path;
};

struct DriveOptions {
    std::string dataDir;  // working directory of the run
    DriveScript script;
    std::uint64_t frames = 0;  // frames to draw (at least 1)
    bool printOverlay = false;
    bool printState = false;
    std::vector<DriveShot> shots;
    FILE* out = stdout;  // where the overlay and state lines go
    // Called after each presented frame (frame from 0) with its picture.
    std::function<void(std::uint64_t frame, const CapturedFrame& picture)> afterFrame;
};

struct DriveResult {
    int exitCode = 0;                  // the program's own exit code
    std::uint64_t frames = 0;          // frames presented
    std::vector<double> frameMs;       // present to present, from the second frame on
    std::vector<double> frameCpuMs;    // the process's processor time over the same spans
    double firstFrameMs = 0;           // from the start of the run to the first present
    std::vector<std::string> errors;   // shots that could not be written, a data folder that cannot be entered
    std::vector<HeadlessWindowSystem::LoggedMessageBox> messageBoxes;  // shown during the run
};

// The working directory is changed to `dataDir` for the run and restored.
DriveResult RunDrive(const DriveOptions& options);

// One `state` line: every field of the car record, %.9g.
std::string FormatVehicleState(std::uint64_t frame);

// Median and 95th percentile (nearest rank) of the frame times.
double Percentile(std::vector<double> values, double fraction);
