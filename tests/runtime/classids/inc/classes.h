// Class identifiers for the class-table check's tests.
#pragma once

#define TESTCHK_CLASS_ONE 0x7e5c0001u  // a comment after the number
#define TESTCHK_CLASS_TWO 0x7E5C0002U
#define TESTCHK_IFACE_ONE 0x7e5c0001u  // not a class: ignored
