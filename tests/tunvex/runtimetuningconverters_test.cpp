// The registry's default text converters, element by element and type by type.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtimetuningitem.h"

namespace {

RuntimeTuningItem MakeItem(void* value, TuningValueType type, uint16_t count) {
  RuntimeTuningItem item{};
  std::strcpy(item.name, "Test-Item");
  item.value = value;
  item.type = type;
  item.count = count;
  item.toText = DefaultValueToText;
  item.fromText = DefaultTextToValue;
  return item;
}

std::string Read(const RuntimeTuningItem& item, uint16_t element, int32_t* result = nullptr,
                 uint32_t* length = nullptr) {
  char text[100];
  std::memset(text, 0x5A, sizeof text);
  int32_t r = DefaultValueToText(&item, element, text, sizeof text, length);
  if (result) *result = r;
  return r == 0 ? std::string(text) : std::string("<") + std::to_string(r) + ">";
}

struct FixedPoint {  // the 8-byte fixed-point element: {u8 q, i32 raw}
  uint8_t q;
  int32_t raw;
};
static_assert(sizeof(FixedPoint) == 8);

}  // namespace

TEST(RuntimeTuningConverters, ElementSizes) {
  const uint32_t sizes[] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 8, 4, 0, 0};
  for (uint32_t t = 0; t < 14; ++t) EXPECT_EQ(TuningValueTypeSize(t), sizes[t]) << t;
}

TEST(RuntimeTuningConverters, IntegerTexts) {
  int8_t s8[2] = {int8_t(0xFF), 127};
  uint8_t u8[1] = {255};
  int16_t s16[1] = {-32768};
  uint16_t u16[1] = {65535};
  int32_t s32[1] = {INT32_MIN};
  uint32_t u32[1] = {4294967295u};
  struct Case {
    RuntimeTuningItem item;
    uint16_t element;
    const char* text;
  } cases[] = {
      {MakeItem(s8, TUNING_TYPE_S8, 2), 0, "-1"},       {MakeItem(s8, TUNING_TYPE_S8, 2), 1, "127"},
      {MakeItem(u8, TUNING_TYPE_U8, 1), 0, "255"},      {MakeItem(s16, TUNING_TYPE_S16, 1), 0, "-32768"},
      {MakeItem(u16, TUNING_TYPE_U16, 1), 0, "65535"},  {MakeItem(s32, TUNING_TYPE_S32, 1), 0, "-2147483648"},
      {MakeItem(u32, TUNING_TYPE_U32, 1), 0, "4294967295"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t length = 0;
    EXPECT_EQ(Read(c.item, c.element, nullptr, &length), c.text);
    EXPECT_EQ(length, std::strlen(c.text) + 1);
  }
}

TEST(RuntimeTuningConverters, FloatingAndFixedTexts) {
  float f = 0.1f;
  double d = -2.25;
  FixedPoint fx{12, 6144};  // 1.5 at Q12
  int32_t q10 = 1536;
  EXPECT_EQ(Read(MakeItem(&f, TUNING_TYPE_FLOAT, 1), 0), "0.100000");
  EXPECT_EQ(Read(MakeItem(&d, TUNING_TYPE_DOUBLE, 1), 0), "-2.250000");
  EXPECT_EQ(Read(MakeItem(&fx, TUNING_TYPE_FIXED, 1), 0), "1.500000");
  EXPECT_EQ(Read(MakeItem(&q10, TUNING_TYPE_Q10, 1), 0), "1.500000");
}

TEST(RuntimeTuningConverters, LongTextsAreCutTo49Characters) {
  double big = 1e300;
  char text[100];
  uint32_t length = 0;
  RuntimeTuningItem item = MakeItem(&big, TUNING_TYPE_DOUBLE, 1);
  ASSERT_EQ(DefaultValueToText(&item, 0, text, sizeof text, &length), 0);
  EXPECT_EQ(std::strlen(text), 49u);
  EXPECT_EQ(length, 50u);  // the length reported is that of the text one can get
}

TEST(RuntimeTuningConverters, CopyIsCutToTheCallersBuffer) {
  int32_t v = -123456;
  RuntimeTuningItem item = MakeItem(&v, TUNING_TYPE_S32, 1);
  char text[4] = {'x', 'x', 'x', 'x'};
  uint32_t length = 0;
  ASSERT_EQ(DefaultValueToText(&item, 0, text, sizeof text, &length), 0);
  EXPECT_STREQ(text, "-12");
  EXPECT_EQ(length, 8u);
  // No buffer at all: only the length.
  length = 0;
  ASSERT_EQ(DefaultValueToText(&item, 0, nullptr, 0, &length), 0);
  EXPECT_EQ(length, 8u);
  // A zero-sized buffer is left alone.
  ASSERT_EQ(DefaultValueToText(&item, 0, text, 0, nullptr), 0);
  EXPECT_STREQ(text, "-12");
}

TEST(RuntimeTuningConverters, WritesStoreAtTheElementWidth) {
  uint8_t u8[2] = {9, 9};
  int8_t s8[1] = {0};
  uint16_t u16[1] = {0};
  int16_t s16[1] = {0};
  int32_t s32[1] = {0};
  uint32_t u32[1] = {0};
  int32_t q10[1] = {0};
  float f[1] = {0};
  double d[1] = {0};
  FixedPoint fx[1] = {{10, 0}};
  struct Case {
    RuntimeTuningItem item;
    uint16_t element;
    const char* text;
    const char* back;
  } cases[] = {
      {MakeItem(u8, TUNING_TYPE_U8, 2), 1, "300", "44"},  // cut without a range check
      {MakeItem(u8, TUNING_TYPE_U8, 2), 0, "abc", "0"},   // no number stores 0
      {MakeItem(u8, TUNING_TYPE_U8, 2), 0, "12abc", "12"},
      {MakeItem(s8, TUNING_TYPE_S8, 1), 0, "  -5", "-5"},
      {MakeItem(u16, TUNING_TYPE_U16, 1), 0, "-1", "65535"},
      {MakeItem(s16, TUNING_TYPE_S16, 1), 0, "+1234", "1234"},
      {MakeItem(s32, TUNING_TYPE_S32, 1), 0, "-2000000000", "-2000000000"},
      {MakeItem(u32, TUNING_TYPE_U32, 1), 0, "4000000000", "4000000000"},
      {MakeItem(q10, TUNING_TYPE_Q10, 1), 0, "1.5", "1.500000"},
      {MakeItem(f, TUNING_TYPE_FLOAT, 1), 0, "0.25x", "0.250000"},
      {MakeItem(d, TUNING_TYPE_DOUBLE, 1), 0, "-3.125", "-3.125000"},
      {MakeItem(fx, TUNING_TYPE_FIXED, 1), 0, "2.5", "2.500000"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(DefaultTextToValue(&c.item, c.element, c.text), 0) << c.text;
    EXPECT_EQ(Read(c.item, c.element), c.back) << c.text;
  }
  EXPECT_EQ(u8[0], 12);
  EXPECT_EQ(u8[1], 44);
  EXPECT_EQ(q10[0], 1536);
  EXPECT_EQ(fx[0].q, 10);  // the fixed-point element keeps its own Q
  EXPECT_EQ(fx[0].raw, 2560);
}

TEST(RuntimeTuningConverters, Q10RoundsHalfAwayFromZeroAndSaturates) {
  EXPECT_EQ(ToQ10(1.0 / 2048), 1);
  EXPECT_EQ(ToQ10(-1.0 / 2048), -1);
  EXPECT_EQ(ToQ10(1.5), 1536);
  EXPECT_EQ(ToQ10(0.0), 0);
  EXPECT_EQ(ToQ10(1e30), INT32_MAX);
  EXPECT_EQ(ToQ10(-1e30), INT32_MIN);
  EXPECT_EQ(ToQ10(std::nan("")), 0);
  EXPECT_FLOAT_EQ(FromQ10(-512), -0.5f);
}

TEST(RuntimeTuningConverters, OutOfRangeFloatTextBecomesInfinity) {
  float f = 0;
  RuntimeTuningItem item = MakeItem(&f, TUNING_TYPE_FLOAT, 1);
  ASSERT_EQ(DefaultTextToValue(&item, 0, "1e300"), 0);
  EXPECT_TRUE(std::isinf(f) && f > 0);
  ASSERT_EQ(DefaultTextToValue(&item, 0, "-1e300"), 0);
  EXPECT_TRUE(std::isinf(f) && f < 0);
}

TEST(RuntimeTuningConverters, ErrorsChangeNothing) {
  uint64_t u64 = 7;
  int64_t s64 = -7;
  uint16_t u16[2] = {1, 2};
  uint32_t raw = 5;
  RuntimeTuningItem items[] = {MakeItem(&u64, TUNING_TYPE_U64, 1), MakeItem(&s64, TUNING_TYPE_S64, 1),
                               MakeItem(&raw, TUNING_TYPE_UNKNOWN, 1), MakeItem(&raw, TuningValueType(40), 1)};
  for (const RuntimeTuningItem& it : items) {
    SCOPED_TRACE(testing::Message() << "value type " << int(it.type));
    EXPECT_EQ(DefaultValueToText(&it, 0, nullptr, 0, nullptr), TUNING_RESULT_NO_TEXT);
    EXPECT_EQ(DefaultTextToValue(&it, 0, "3"), TUNING_RESULT_NO_TEXT);
  }
  EXPECT_EQ(u64, 7u);
  EXPECT_EQ(s64, -7);
  EXPECT_EQ(raw, 5u);

  RuntimeTuningItem item = MakeItem(u16, TUNING_TYPE_U16, 2);
  char text[8] = "keep";
  uint32_t length = 99;
  EXPECT_EQ(DefaultValueToText(&item, 2, text, sizeof text, &length), TUNING_RESULT_BAD_INDEX);
  EXPECT_EQ(DefaultTextToValue(&item, 2, "9"), TUNING_RESULT_BAD_INDEX);
  EXPECT_EQ(DefaultValueToText(nullptr, 0, text, sizeof text, &length), TUNING_RESULT_BAD_INDEX);
  EXPECT_EQ(DefaultTextToValue(nullptr, 0, "9"), TUNING_RESULT_BAD_INDEX);
  EXPECT_EQ(DefaultTextToValue(&item, 0, nullptr), TUNING_RESULT_BAD_INDEX);
  EXPECT_STREQ(text, "keep");
  EXPECT_EQ(length, 99u);
  EXPECT_EQ(u16[0], 1);
  EXPECT_EQ(u16[1], 2);
}

// Conversions on two threads at once (the capture thread's JPEG text and the
// protocol thread) each see their own value's text.
TEST(RuntimeTuningConverters, ConcurrentConversionsDoNotMeet) {
  int32_t a = 111111111;
  double b = -0.5;
  RuntimeTuningItem ia = MakeItem(&a, TUNING_TYPE_S32, 1);
  RuntimeTuningItem ib = MakeItem(&b, TUNING_TYPE_DOUBLE, 1);
  auto run = [](const RuntimeTuningItem* item, const char* expected, int* bad) {
    for (int i = 0; i < 20000; ++i) {
      char text[64];
      if (DefaultValueToText(item, 0, text, sizeof text, nullptr) != 0 || std::strcmp(text, expected) != 0) ++*bad;
    }
  };
  int badA = 0, badB = 0;
  std::thread t1(run, &ia, "111111111", &badA);
  std::thread t2(run, &ib, "-0.500000", &badB);
  t1.join();
  t2.join();
  EXPECT_EQ(badA, 0);
  EXPECT_EQ(badB, 0);
}
