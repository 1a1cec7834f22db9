// CFixedPoint: fixed-point numbers with a per-number count of fraction bits.
#include "cfixedpoint.h"

#include <math.h>

namespace {

constexpr int64_t kMin32 = -0x80000000LL;
constexpr int64_t kMax32 = 0x7fffffffLL;

inline bool Fits32(int64_t v) { return v >= kMin32 && v <= kMax32; }

// x * 2^q rounded half away from zero; false when it does not fit (or is NaN).
bool FromDouble(uint32_t q, double x, int32_t* out) {
  const double scaled = ldexp(x, static_cast<int>(q));
  const double rounded = scaled >= 0 ? scaled + 0.5 : scaled - 0.5;
  if (!(rounded > -2147483649.0 && rounded < 2147483648.0)) return false;  // also NaN
  *out = static_cast<int32_t>(rounded);  // truncates towards zero
  return true;
}

// Saturating form for constructors, which cannot report.
int32_t FromDoubleSaturated(uint32_t q, double x) {
  int32_t v;
  if (FromDouble(q, x, &v)) return v;
  if (x != x) return 0;
  return x > 0 ? static_cast<int32_t>(kMax32) : static_cast<int32_t>(kMin32);
}

// value exactly, as value * 2^(31 - q) in 64 bits (for comparisons).
inline int64_t Aligned(int32_t value, uint32_t q) { return static_cast<int64_t>(value) * (int64_t{1} << (31 - q)); }

}  // namespace

bool FixedWouldOverflow(uint32_t shift, int64_t value) {
  if (shift >= 32) return value != 0;
  const int64_t limit = int64_t{1} << (31 - shift);
  return value >= limit || value < -limit;
}

PvlResult FixedRescale(uint32_t fromQ, int32_t value, uint32_t toQ, int32_t* out) {
  if (fromQ >= 32 || toQ >= 32) return PVL_E_NOTREPRESENTABLE;
  if (!out) return PVL_E_NULLPTR;
  if (fromQ == toQ) {
    *out = value;
  } else if (toQ < fromQ) {
    const uint32_t s = fromQ - toQ;
    const int64_t half = int64_t{1} << (s - 1);
    const int64_t v = value;
    const int64_t r = (v + (v < 0 ? -half : half)) / (int64_t{1} << s);  // 64 bits: no wrap near the limits
    *out = static_cast<int32_t>(r);
  } else {
    const uint32_t s = toQ - fromQ;
    if (FixedWouldOverflow(s, value)) return PVL_E_NOTREPRESENTABLE;  // the sign bit counts
    *out = static_cast<int32_t>(static_cast<int64_t>(value) * (int64_t{1} << s));
  }
  return PVL_OK;
}

CFixedPoint::CFixedPoint(double x) : m_q(kDefaultQ), m_value(FromDoubleSaturated(kDefaultQ, x)) {}
CFixedPoint::CFixedPoint(float x) : m_q(kDefaultQ), m_value(FromDoubleSaturated(kDefaultQ, x)) {}
CFixedPoint::CFixedPoint(int32_t integer)
    : m_q(kDefaultQ), m_value(static_cast<int32_t>(static_cast<uint32_t>(integer) << kDefaultQ)) {}
CFixedPoint::CFixedPoint(uint32_t q, double x)
    : m_q(static_cast<uint8_t>(q > kMaxQ ? kMaxQ : q)), m_value(FromDoubleSaturated(m_q, x)) {}
CFixedPoint::CFixedPoint(uint32_t q, int32_t integer) {
  if (q >= 32) {
    m_q = kMaxQ;
    m_value = 0;
  } else {
    m_q = static_cast<uint8_t>(q);
    m_value = static_cast<int32_t>(static_cast<uint32_t>(integer) << q);
  }
}

PvlResult CFixedPoint::GetDouble(double* out) const {
  if (m_q >= 32) return PVL_E_NOTREPRESENTABLE;
  if (!out) return PVL_E_NULLPTR;
  *out = ldexp(static_cast<double>(m_value), -static_cast<int>(m_q));
  return PVL_OK;
}

float CFixedPoint::FloatValue() const {
  return static_cast<float>(m_value) / static_cast<float>(uint64_t{1} << m_q);
}

PvlResult CFixedPoint::GetFloat(float* out) const {
  if (!out) return PVL_E_NULLPTR;
  *out = FloatValue();
  return PVL_OK;
}

PvlResult CFixedPoint::GetInt(int32_t* out) const {
  if (!out) return PVL_E_NULLPTR;
  return FixedRescale(m_q, m_value, 0, out);
}

PvlResult CFixedPoint::GetRawAtQ(uint32_t q, int32_t* raw) const {
  if (!raw) return PVL_E_NULLPTR;
  return FixedRescale(m_q, m_value, q, raw);
}

PvlResult CFixedPoint::SetRaw(uint32_t q, int32_t raw) {
  int32_t v;
  const PvlResult r = FixedRescale(q, raw, m_q, &v);
  if (r == PVL_OK) m_value = v;
  return r;
}

PvlResult CFixedPoint::SetQ(uint32_t q) {
  if (q > kMaxQ) return PVL_E_BADARG;
  int32_t v;
  const PvlResult r = FixedRescale(m_q, m_value, q, &v);
  if (r != PVL_OK) return r;  // keep Q and value together
  m_q = static_cast<uint8_t>(q);
  m_value = v;
  return PVL_OK;
}

CFixedPoint& CFixedPoint::operator=(int32_t integer) {
  SetRaw(0, integer);
  return *this;
}

CFixedPoint& CFixedPoint::operator=(double x) {
  int32_t v;
  if (FromDouble(m_q, x, &v)) m_value = v;
  return *this;
}

CFixedPoint& CFixedPoint::operator+=(const CFixedPoint& other) {
  int32_t o;
  if (other.GetRawAtQ(m_q, &o) != PVL_OK) return *this;
  const int64_t sum = static_cast<int64_t>(m_value) + o;
  if (Fits32(sum)) m_value = static_cast<int32_t>(sum);
  return *this;
}

CFixedPoint& CFixedPoint::operator-=(const CFixedPoint& other) {
  int32_t o;
  if (other.GetRawAtQ(m_q, &o) != PVL_OK) return *this;
  const int64_t diff = static_cast<int64_t>(m_value) - o;
  if (Fits32(diff)) m_value = static_cast<int32_t>(diff);
  return *this;
}

CFixedPoint& CFixedPoint::operator*=(const CFixedPoint& other) {
  if (m_q < other.m_q) {
    int32_t a = 0, b = 0;
    GetInt(&a);
    other.GetInt(&b);
    if (!FixedWouldOverflow(other.m_q, static_cast<int64_t>(a) * b)) SetQ(other.m_q);
  }
  int32_t o;
  if (other.GetRawAtQ(m_q, &o) != PVL_OK) return *this;
  const int64_t product = (static_cast<int64_t>(m_value) * o) >> m_q;  // arithmetic: towards minus infinity
  if (Fits32(product)) m_value = static_cast<int32_t>(product);
  return *this;
}

CFixedPoint& CFixedPoint::operator/=(const CFixedPoint& other) {
  int32_t otherInt = 0;
  other.GetInt(&otherInt);
  if (otherInt < 1 && other.m_q > m_q) SetQ(other.m_q);
  int32_t o;
  if (other.GetRawAtQ(m_q, &o) != PVL_OK) return *this;
  if (o == 0) return *this;
  const int64_t quotient = (static_cast<int64_t>(m_value) * (int64_t{1} << m_q)) / o;  // truncates towards zero
  if (Fits32(quotient)) m_value = static_cast<int32_t>(quotient);
  return *this;
}

CFixedPoint CFixedPoint::operator-() const {
  CFixedPoint r(*this);
  r.m_value = m_value == static_cast<int32_t>(kMin32) ? static_cast<int32_t>(kMax32) : -m_value;
  return r;
}

bool CFixedPoint::operator>(const CFixedPoint& o) const {
  if (m_q == o.m_q) return m_value > o.m_value;
  return Aligned(m_value, m_q) > Aligned(o.m_value, o.m_q);
}
bool CFixedPoint::operator<(const CFixedPoint& o) const { return o > *this; }
bool CFixedPoint::operator>=(const CFixedPoint& o) const { return Aligned(m_value, m_q) >= Aligned(o.m_value, o.m_q); }
bool CFixedPoint::operator<=(const CFixedPoint& o) const { return Aligned(m_value, m_q) <= Aligned(o.m_value, o.m_q); }
bool CFixedPoint::operator==(const CFixedPoint& o) const {
  if (m_value == 0 && o.m_value == 0) return true;
  return Aligned(m_value, m_q) == Aligned(o.m_value, o.m_q);
}

bool CFixedPoint::operator>(int32_t n) const {
  int32_t i = 0;
  GetInt(&i);
  return i > n;
}
bool CFixedPoint::operator<(int32_t n) const {
  int32_t i = 0;
  GetInt(&i);
  return i < n;
}
bool CFixedPoint::operator==(int32_t n) const {
  return Aligned(m_value, m_q) == static_cast<int64_t>(n) * (int64_t{1} << 31);
}

CFixedPoint operator+(const CFixedPoint& a, const CFixedPoint& b) {
  CFixedPoint r(a);
  r += b;
  return r;
}
CFixedPoint operator-(const CFixedPoint& a, const CFixedPoint& b) {
  CFixedPoint r(a);
  r -= b;
  return r;
}
CFixedPoint operator*(const CFixedPoint& a, const CFixedPoint& b) {
  CFixedPoint x(a), y(b);
  while (x.GetQ() + y.GetQ() > 25) {
    if (x.GetQ() >= 5) x.SetQ(x.GetQ() - 5);
    if (y.GetQ() >= 5) y.SetQ(y.GetQ() - 5);
  }
  x *= y;
  return x;
}
CFixedPoint operator/(const CFixedPoint& a, const CFixedPoint& b) {
  CFixedPoint r(a);
  r /= b;
  return r;
}
CFixedPoint operator*(const CFixedPoint& a, double b) { return a * CFixedPoint(a.GetQ(), b); }
CFixedPoint operator/(double a, const CFixedPoint& b) { return CFixedPoint(b.GetQ(), a) / b; }
