// CFixedPoint: conversion, rescaling, arithmetic and comparison.
#include <gtest/gtest.h>

#include "cfixedpoint.h"

namespace {

TEST(FixedPoint, ConversionRoundsHalfAwayFromZero) {
  struct Case {
    uint32_t q;
    double x;
    int32_t raw;
  } cases[] = {
      {0, 1.5, 2}, {0, -1.5, -2}, {12, 0.5, 2048}, {0, 2.49, 2}, {0, -2.5, -3},
      {8, 2.00625, 514}, {31, 0.5, 0x40000000}, {40, 0.25, 0x20000000},  // Q clamped to 31
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " at Q" << c.q);
    CFixedPoint f(c.q, c.x);
    EXPECT_EQ(f.GetRawValue(), c.raw) << c.q << " " << c.x;
    EXPECT_EQ(f.GetQ(), c.q > 31 ? 31u : c.q);
  }
  EXPECT_EQ(CFixedPoint(1.25).GetRawValue(), 5120);
  EXPECT_EQ(CFixedPoint(1.25f).GetQ(), 12u);
  EXPECT_EQ(CFixedPoint(3).GetRawValue(), 3 << 12);
  EXPECT_EQ(CFixedPoint(4u, 3).GetRawValue(), 48);
  CFixedPoint big(32u, 5);
  EXPECT_EQ(big.GetQ(), 31u);
  EXPECT_EQ(big.GetRawValue(), 0);
}

TEST(FixedPoint, OutOfRangeDoublesSaturateOrKeepTheValue) {
  EXPECT_EQ(CFixedPoint(1e12).GetRawValue(), 0x7fffffff);
  EXPECT_EQ(CFixedPoint(-1e12).GetRawValue(), static_cast<int32_t>(0x80000000u));
  EXPECT_EQ(CFixedPoint(0u, __builtin_nan("")).GetRawValue(), 0);
  CFixedPoint f(1.0);
  f = 1e300;  // cannot be represented: the number keeps its value
  EXPECT_EQ(f.GetRawValue(), 4096);
  f = -0.25;
  EXPECT_EQ(f.GetRawValue(), -1024);
}

TEST(FixedPoint, Rescale) {
  int32_t out = 77;
  EXPECT_EQ(FixedRescale(1, 3, 0, &out), PVL_OK);
  EXPECT_EQ(out, 2);
  EXPECT_EQ(FixedRescale(1, -3, 0, &out), PVL_OK);
  EXPECT_EQ(out, -2);
  // The rounding add must not wrap near the limits.
  EXPECT_EQ(FixedRescale(1, 0x7fffffff, 0, &out), PVL_OK);
  EXPECT_EQ(out, 0x40000000);
  EXPECT_EQ(FixedRescale(1, static_cast<int32_t>(0x80000000u), 0, &out), PVL_OK);
  EXPECT_EQ(out, -0x40000000);
  // Raising: the sign bit counts.
  out = 77;
  EXPECT_EQ(FixedRescale(0, 0x40000000, 2, &out), PVL_E_NOTREPRESENTABLE);
  EXPECT_EQ(FixedRescale(0, 0x40000000, 1, &out), PVL_E_NOTREPRESENTABLE);
  EXPECT_EQ(out, 77);  // not written on failure
  EXPECT_EQ(FixedRescale(0, -0x40000000, 1, &out), PVL_OK);
  EXPECT_EQ(out, static_cast<int32_t>(0x80000000u));
  EXPECT_EQ(FixedRescale(0, 0x3fffffff, 1, &out), PVL_OK);
  EXPECT_EQ(out, 0x7ffffffe);
  EXPECT_EQ(FixedRescale(32, 1, 0, &out), PVL_E_NOTREPRESENTABLE);
  EXPECT_EQ(FixedRescale(0, 1, 32, &out), PVL_E_NOTREPRESENTABLE);
}

TEST(FixedPoint, GettersAndSetters) {
  CFixedPoint f(12u, 2.5);
  double d = 0;
  float fl = 0;
  int32_t i = 0;
  EXPECT_EQ(f.GetDouble(&d), PVL_OK);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(f.GetFloat(&fl), PVL_OK);
  EXPECT_EQ(fl, 2.5f);
  EXPECT_EQ(f.GetFloat(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(f.GetDouble(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(f.GetInt(nullptr), PVL_E_NULLPTR);
  EXPECT_EQ(f.GetInt(&i), PVL_OK);
  EXPECT_EQ(i, 3);
  EXPECT_EQ(f.GetRawAtQ(4, &i), PVL_OK);
  EXPECT_EQ(i, 40);
  EXPECT_EQ(f.GetRawAtQ(32, &i), PVL_E_NOTREPRESENTABLE);

  EXPECT_EQ(f.SetRaw(0, 3), PVL_OK);
  EXPECT_EQ(f.GetRawValue(), 3 << 12);
  EXPECT_EQ(f.SetRaw(0, 0x40000000), PVL_E_NOTREPRESENTABLE);
  EXPECT_EQ(f.GetRawValue(), 3 << 12);

  EXPECT_EQ(f.SetQ(32), PVL_E_BADARG);
  EXPECT_EQ(f.SetQ(4), PVL_OK);
  EXPECT_EQ(f.GetQ(), 4u);
  EXPECT_EQ(f.GetRawValue(), 48);
  // A raise that does not fit leaves Q and value as they were.
  f.SetRawValue(0x10000000);
  EXPECT_EQ(f.SetQ(8), PVL_E_NOTREPRESENTABLE);
  EXPECT_EQ(f.GetQ(), 4u);
  EXPECT_EQ(f.GetRawValue(), 0x10000000);

  CFixedPoint g(8u, 1.0);
  g = 5;  // keeps Q
  EXPECT_EQ(g.GetQ(), 8u);
  EXPECT_EQ(g.GetRawValue(), 5 << 8);
}

TEST(FixedPoint, AdditionAndOverflow) {
  CFixedPoint a(1.5), b(8u, 0.25);
  a += b;
  EXPECT_EQ(a.GetRawValue(), 7168);  // 1.75 at Q12
  a -= CFixedPoint(2.0);
  EXPECT_EQ(a.GetRawValue(), -1024);
  EXPECT_EQ((CFixedPoint(1.0) + CFixedPoint(2.0)).GetRawValue(), 3 << 12);
  EXPECT_EQ((-CFixedPoint(1.0)).GetRawValue(), -4096);

  // Overflow of either sign keeps the old value.
  CFixedPoint big(0u, 0x7ffffff0), neg(0u, -0x7ffffff0);
  big += CFixedPoint(0u, 0x100);
  EXPECT_EQ(big.GetRawValue(), 0x7ffffff0);
  neg += CFixedPoint(0u, -0x100);
  EXPECT_EQ(neg.GetRawValue(), -0x7ffffff0);
  neg -= CFixedPoint(0u, 0x100);
  EXPECT_EQ(neg.GetRawValue(), -0x7ffffff0);
  // An operand that cannot be taken at this Q changes nothing.
  CFixedPoint small(20u, 0.5);
  small += CFixedPoint(0u, 100000);
  EXPECT_EQ(small.GetRawValue(), 1 << 19);
}

TEST(FixedPoint, MultiplicationRoundsTowardsMinusInfinity) {
  // Q 20 times Q 20: both lowered to Q 10 first.
  CFixedPoint p = CFixedPoint(20u, 1.5) * CFixedPoint(20u, 2.0);
  EXPECT_EQ(p.GetQ(), 10u);
  EXPECT_EQ(p.GetRawValue(), 3 << 10);

  CFixedPoint a(0u, 3), b(1u, 0.5);  // 3 * 0.5; a is raised to Q 1 first
  a *= b;
  EXPECT_EQ(a.GetQ(), 1u);
  EXPECT_EQ(a.GetRawValue(), 3);

  CFixedPoint c(2u, 0.25), d(2u, 0.25);  // 1/16 -> floor at Q 2
  c *= d;
  EXPECT_EQ(c.GetRawValue(), 0);
  CFixedPoint e(2u, -0.25), f(2u, 0.25);  // -1/16 -> floor gives -1 (-0.25)
  e *= f;
  EXPECT_EQ(e.GetRawValue(), -1);

  // A product outside 32 bits leaves the number unchanged.
  CFixedPoint g(0u, 0x10000), h(0u, 0x10000);
  g *= h;
  EXPECT_EQ(g.GetRawValue(), 0x10000);

  EXPECT_EQ((CFixedPoint(2.0) * 1.5).GetRawValue(), 3 << 12);
}

TEST(FixedPoint, DivisionTruncatesTowardsZero) {
  CFixedPoint a(0u, 7), b(0u, 2);
  a /= b;
  EXPECT_EQ(a.GetRawValue(), 3);
  CFixedPoint n(0u, -7);
  n /= b;
  EXPECT_EQ(n.GetRawValue(), -3);
  CFixedPoint x(12u, 1.0), three(12u, 3.0);
  x /= three;
  EXPECT_EQ(x.GetRawValue(), 1365);  // 4096 * 4096 / 12288 truncated

  CFixedPoint keep(2.5);
  keep /= CFixedPoint(0.0);
  EXPECT_EQ(keep.GetRawValue(), 10240);

  // A divisor below 1 with a higher Q raises the dividend first.
  CFixedPoint one(4u, 1.0), quarter(8u, 0.25);
  one /= quarter;
  EXPECT_EQ(one.GetQ(), 8u);
  EXPECT_EQ(one.GetRawValue(), 4 << 8);

  EXPECT_EQ((1.0 / CFixedPoint(4.0)).GetRawValue(), 1024);
  EXPECT_EQ((CFixedPoint(1.0) / CFixedPoint(8.0)).GetRawValue(), 512);
}

TEST(FixedPoint, Comparisons) {
  EXPECT_FALSE(CFixedPoint(2.4) > 2);
  EXPECT_TRUE(CFixedPoint(2.6) > 2);
  EXPECT_TRUE(CFixedPoint(1.4) < 2);
  EXPECT_TRUE(CFixedPoint(3.0) == 3);
  EXPECT_TRUE(CFixedPoint(3.5) != 3);
  EXPECT_TRUE(CFixedPoint(0u, 1 << 20) == (1 << 20));  // no wrap at Q 12

  const CFixedPoint a(4u, 1.5), b(12u, 1.5), c(12u, 1.25), m(0u, -1), z0(0u, 0), z1(31u, 0);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a != b);
  EXPECT_TRUE(a > c);
  EXPECT_TRUE(c < a);
  EXPECT_TRUE(a >= b);
  EXPECT_TRUE(a <= b);
  EXPECT_FALSE(c >= a);
  EXPECT_TRUE(m < c);
  EXPECT_TRUE(z0 == z1);
  // Alignment of widely different Q values does not overflow.
  const CFixedPoint huge(0u, 0x7fffffff), tiny(31u, 1);
  EXPECT_TRUE(huge > tiny);
  EXPECT_TRUE(tiny < huge);
  EXPECT_FALSE(huge <= tiny);
}

}  // namespace
