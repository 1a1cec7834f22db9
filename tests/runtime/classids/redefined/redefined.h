#define TESTCHK_CLASS_ONE 0x7e5c0009u  // class one again, with another number
