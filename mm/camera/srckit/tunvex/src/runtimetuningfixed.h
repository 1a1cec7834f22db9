// The registry's bridge to the fixed-point type (type code 10).
#pragma once

// Value of the CFixedPoint at p as a double (0 when its Q is out of range).
double RuntimeTuningFixedToDouble(const void* p);
// Assigns d to the CFixedPoint at p, keeping its Q.
void RuntimeTuningFixedAssign(void* p, double d);
