// A module source with a global that allocates: its constructor would run inside dlopen,
// before the host is bound. The module-image check must refuse an image made from it.
#include <string>
#include <vector>

std::vector<std::string> g_modeNames = {"preview", "video", "still"};

int ModeCount() { return static_cast<int>(g_modeNames.size()); }
