// For tests that write into the image's \Windows (installing a package, replacing a
// library): the private image's Windows/ becomes a real copy instead of the link to the
// build image's, so that what they write stays theirs.
#pragma once

namespace camera::test {

// Copies the build image's Windows/ into the private image (once per test program;
// later calls do nothing). Throws when the copy cannot be made.
void UsePrivateWindowsCopy();

}  // namespace camera::test
