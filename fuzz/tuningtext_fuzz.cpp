// The tuning values' text converters: any text into an element of any type, then the
// element back to text into a buffer of any size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzzinput.h"
#include "runtimetuningitem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  camera::fuzz::Input in(data, size);
  uint32_t type = in.Take<uint8_t>() % (TUNING_TYPE_UNKNOWN + 2);  // one past the known codes too
  uint16_t count = 1 + in.Take<uint8_t>() % 4;
  uint16_t element = in.Take<uint8_t>() % count;
  uint32_t textSize = in.Take<uint8_t>();
  std::string text(in.Rest());  // NUL-terminated; any NULs inside end it early

  uint32_t elementSize = TuningValueTypeSize(type);
  std::unique_ptr<uint8_t[]> value(new uint8_t[elementSize * count]());
  RuntimeTuningItem item{};
  RuntimeTuningCopyText(item.name, sizeof item.name, "Fuzz-Value");
  item.value = value.get();
  item.type = static_cast<TuningValueType>(type);
  item.count = count;
  item.toText = DefaultValueToText;
  item.fromText = DefaultTextToValue;

  DefaultTextToValue(&item, element, text.c_str());
  std::unique_ptr<char[]> out(new char[textSize]);
  uint32_t length = 0;
  if (DefaultValueToText(&item, element, textSize ? out.get() : nullptr, textSize, &length) == 0 && textSize &&
      std::strlen(out.get()) >= textSize) {
    __builtin_trap();  // the text must end inside its buffer
  }
  return 0;
}
