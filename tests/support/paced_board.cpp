// Every test program runs the board paced (board_vfe.h), also when started by hand
// rather than by ctest, and so do the tools it starts.
#include <stdlib.h>

namespace {
[[maybe_unused]] const bool kPaced = setenv("CAMERA_BOARD_PACED", "1", 0) == 0;
}  // namespace
