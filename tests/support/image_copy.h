// Each test program runs on a private temporary copy of the device image: a temp
// directory whose Windows/ is a link to the build image's Windows/ and whose other
// files (registry seed, device.cs, fs/) are copies. It is made before the first test
// and removed after the last; CAMERA_IMAGE_ROOT names it for child processes.
#pragma once

#include <string>
#include <string_view>

namespace camera::test {

// The private image's root directory (host path, no trailing slash).
const std::string& ImageRoot();

// Host path of `relative` ("fs/x/y.txt", "registry.d/50-test.reg") inside the private image.
std::string ImagePath(std::string_view relative);

// Writes a file of the private image, making its directories; throws on failure.
void WriteImageFile(std::string_view relative, std::string_view contents);

// Reads a file of the private image; false when absent.
bool ReadImageFile(std::string_view relative, std::string* contents);

// Removes a file of the private image (no error when absent).
void RemoveImageFile(std::string_view relative);

// Starts a debug-output capture for the scope of the object.
class DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;
};

}  // namespace camera::test
