#define TESTCHK_CLASS_ALIAS 0x7e5c0001u  // a second name for class one
