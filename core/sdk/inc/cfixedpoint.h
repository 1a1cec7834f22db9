// CFixedPoint: a signed 32-bit value with its own count of fraction bits Q.
//
// Rounding: conversions from floating point and rescaling to fewer fraction
// bits round half away from zero. Multiplication keeps floor((a * b) >> Q)
// (arithmetic shift of the 64-bit product); division keeps
// ((a << Q) / b) truncated towards zero. Both are integer-only and exact
// otherwise, so results are repeatable bit for bit.
//
// Operators return no codes: where a step fails (a rescale that would lose
// bits, a result outside 32 bits) the number keeps its old value.
#ifndef CFIXEDPOINT_H
#define CFIXEDPOINT_H

#include <stddef.h>
#include <stdint.h>

#include "pvlresult.h"

class CFixedPoint {
 public:
  static constexpr uint8_t kDefaultQ = 12;
  static constexpr uint8_t kMaxQ = 31;

  CFixedPoint() : m_q(kDefaultQ), m_value(0) {}
  CFixedPoint(double x);                 // Q 12
  CFixedPoint(float x);                  // Q 12
  CFixedPoint(int32_t integer);          // Q 12, value = integer << 12
  CFixedPoint(uint32_t q, double x);     // Q clamped to 31
  CFixedPoint(uint32_t q, int32_t integer);  // value = integer << Q; Q >= 32 gives Q 31, value 0
  CFixedPoint(const CFixedPoint&) = default;
  CFixedPoint& operator=(const CFixedPoint&) = default;

  PvlResult GetDouble(double* out) const;
  PvlResult GetFloat(float* out) const;
  float FloatValue() const;
  PvlResult GetInt(int32_t* out) const;  // rounded half away from zero
  PvlResult GetRawAtQ(uint32_t q, int32_t* raw) const;
  int32_t GetRawValue() const { return m_value; }
  uint32_t GetQ() const { return m_q; }
  void SetRawValue(int32_t raw) { m_value = raw; }
  // Rescales raw (with q fraction bits) into this number's Q; on 16 the value stays.
  PvlResult SetRaw(uint32_t q, int32_t raw);
  // 14 when q is over 31; 16 (and nothing changed) when the value does not fit at q.
  PvlResult SetQ(uint32_t q);

  CFixedPoint& operator=(int32_t integer);  // keeps Q
  CFixedPoint& operator=(double x);         // converts at this Q
  CFixedPoint& operator+=(const CFixedPoint& other);
  CFixedPoint& operator-=(const CFixedPoint& other);
  CFixedPoint& operator*=(const CFixedPoint& other);
  CFixedPoint& operator/=(const CFixedPoint& other);  // by 0: unchanged
  CFixedPoint operator-() const;

  bool operator>(const CFixedPoint& o) const;
  bool operator<(const CFixedPoint& o) const;
  bool operator>=(const CFixedPoint& o) const;
  bool operator<=(const CFixedPoint& o) const;
  bool operator==(const CFixedPoint& o) const;
  bool operator!=(const CFixedPoint& o) const { return !(*this == o); }
  // Greater and less: the number rounded to an integer against n.
  bool operator>(int32_t n) const;
  bool operator<(int32_t n) const;
  // Equal and not equal: against n taken as Q 12 (exactly).
  bool operator==(int32_t n) const;
  bool operator!=(int32_t n) const { return !(*this == n); }

 private:
  uint8_t m_q;
  int32_t m_value;

  friend struct CFixedPointLayout;
};

// The tuning registry reads these 8 bytes as they are.
struct CFixedPointLayout {
  static_assert(sizeof(CFixedPoint) == 8, "CFixedPoint is {u8 Q, i32 value}");
  static_assert(offsetof(CFixedPoint, m_q) == 0, "Q at 0");
  static_assert(offsetof(CFixedPoint, m_value) == 4, "value at 4");
};

CFixedPoint operator+(const CFixedPoint& a, const CFixedPoint& b);
CFixedPoint operator-(const CFixedPoint& a, const CFixedPoint& b);
// Lowers both copies by 5 fraction bits while their Q sum is over 25, then multiplies.
CFixedPoint operator*(const CFixedPoint& a, const CFixedPoint& b);
CFixedPoint operator/(const CFixedPoint& a, const CFixedPoint& b);
// The double is converted at the fixed number's Q.
CFixedPoint operator*(const CFixedPoint& a, double b);
CFixedPoint operator/(double a, const CFixedPoint& b);

// Rescales value from one Q to another (16 on lost bits or a Q over 31; out untouched then).
PvlResult FixedRescale(uint32_t fromQ, int32_t value, uint32_t toQ, int32_t* out);
// True when value << shift does not fit in 32 signed bits.
bool FixedWouldOverflow(uint32_t shift, int64_t value);

#endif
