// One tunable value of a runtime tuning registry: a named, typed field in its
// owner's memory, with the converters that read and write its elements as text.
#pragma once

#include <cstddef>
#include <cstdint>

// Element types of a tunable value. Element i lies at value address + i * size.
enum TuningValueType : uint32_t {
  TUNING_TYPE_S8 = 0,
  TUNING_TYPE_U8 = 1,
  TUNING_TYPE_S16 = 2,
  TUNING_TYPE_U16 = 3,
  TUNING_TYPE_S32 = 4,
  TUNING_TYPE_U32 = 5,
  TUNING_TYPE_S64 = 6,      // no text form
  TUNING_TYPE_U64 = 7,      // no text form
  TUNING_TYPE_FLOAT = 8,
  TUNING_TYPE_DOUBLE = 9,
  TUNING_TYPE_FIXED = 10,   // CFixedPoint {u8 q, i32 raw}
  TUNING_TYPE_Q10 = 11,     // signed 32-bit value x 1024
  TUNING_TYPE_UNKNOWN = 12, // TypeFromSize for a size it does not know
};

// Result codes of the registry and its converters.
constexpr int32_t TUNING_RESULT_OK = 0;
constexpr int32_t TUNING_RESULT_NO_MEMORY = 2;
constexpr int32_t TUNING_RESULT_BAD_INDEX = 14;  // missing out-pointer, index out of range
constexpr int32_t TUNING_RESULT_NO_TEXT = 17;    // type without a text form
constexpr int32_t TUNING_RESULT_NULL = 29;

struct RuntimeTuningItem;

// To-text: (item, element, text buffer or none, buffer size, full text length + 1 out or none).
typedef int32_t (*RuntimeTuningToText)(const RuntimeTuningItem* item, uint16_t element, char* text,
                                       uint32_t size, uint32_t* length);
// From-text: (item, element, NUL-terminated text).
typedef int32_t (*RuntimeTuningFromText)(const RuntimeTuningItem* item, uint16_t element,
                                         const char* text);

constexpr uint32_t RUNTIME_TUNING_NAME_SIZE = 60;  // names are cut to 59 characters

struct RuntimeTuningItem {
  char name[RUNTIME_TUNING_NAME_SIZE];
  void* value;              // element 0, in the owner's memory; never owned
  TuningValueType type;
  uint16_t count;           // number of elements
  uint32_t flags;           // stored and reported, never interpreted by the registry
  RuntimeTuningToText toText;
  RuntimeTuningFromText fromText;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(void*) == 4, "the registry's records are laid out for a 32-bit build");
static_assert(offsetof(RuntimeTuningItem, name) == 0);
static_assert(offsetof(RuntimeTuningItem, value) == 60);
static_assert(offsetof(RuntimeTuningItem, type) == 64);
static_assert(offsetof(RuntimeTuningItem, count) == 68);
static_assert(offsetof(RuntimeTuningItem, flags) == 72);
static_assert(offsetof(RuntimeTuningItem, toText) == 76);
static_assert(offsetof(RuntimeTuningItem, fromText) == 80);
static_assert(sizeof(RuntimeTuningItem) == 84);
#endif

// Size in bytes of one element of a type; 0 for codes without an element type.
uint32_t TuningValueTypeSize(uint32_t type);

// The default converters: "%d"/"%u" for integers, "%f" for the floating and
// fixed-point types, result 17 for the 64-bit integers and codes 12 and above.
// Texts are at most 49 characters. Each call formats into its own buffer, so
// conversions on different threads never meet.
int32_t DefaultValueToText(const RuntimeTuningItem* item, uint16_t element, char* text, uint32_t size,
                           uint32_t* length);
int32_t DefaultTextToValue(const RuntimeTuningItem* item, uint16_t element, const char* text);

// Q10 fixed point in a signed 32-bit integer: rounding half away from zero,
// saturating at the integer's range (NaN gives 0).
int32_t ToQ10(double x);
float FromQ10(int32_t raw);

// Copies `text` into `buffer` cut to `size` and always terminated (nothing for
// size 0); returns the full length of `text`.
uint32_t RuntimeTuningCopyText(char* buffer, uint32_t size, const char* text);
