// The same table as constants: nothing runs at mapping time, so the check lets it through.
static constexpr const char* kModeNames[] = {"preview", "video", "still"};

int ModeCount() { return static_cast<int>(sizeof kModeNames / sizeof kModeNames[0]); }
