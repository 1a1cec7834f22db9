// camcapture: the user's tool over the capture client. It opens the camera through
// the driver as a capture application does, lists what the camera offers, sets
// controls by name, streams frames of a chosen format to a .y4m file and takes JPEG
// stills. The tool's main reads its command line, then loads the driver through the
// device manager; the tests call RunCamCapture with the driver already loaded.
#pragma once

#include <cstdio>

// Exit codes.
inline constexpr int kCamCaptureOk = 0;
inline constexpr int kCamCaptureFailed = 1;  // the camera or a file refused
inline constexpr int kCamCaptureUsage = 2;   // the command line is wrong
inline constexpr int kCamCaptureRun = -1;    // the command line asks for the camera

// Reads the command line without touching the camera: prints the usage on `out` for
// --help (kCamCaptureOk), explains a wrong command line on `err` (kCamCaptureUsage),
// else returns kCamCaptureRun.
int CheckCamCaptureArguments(int argc, char** argv, std::FILE* out, std::FILE* err);

int RunCamCapture(int argc, char** argv, std::FILE* out, std::FILE* err);
