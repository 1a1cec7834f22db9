// The wide formatter (wsprintfW and its bounded forms): any format into a buffer of any
// size. Every argument slot holds the address of a text that reads as a narrow and as a
// wide string, so that each conversion has something valid to take; formats with more
// conversions than there are slots are skipped, as a caller would never pass them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzzinput.h"
#include "wince.h"

namespace {

// "ab" as UTF-16 is 'a' 0 'b' 0 0 0: narrow "a", wide "ab".
alignas(8) const char16_t kText[] = u"ab";
constexpr int kSlots = 12;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  camera::fuzz::Input in(data, size);
  uint8_t which = in.Take<uint8_t>();
  size_t count = in.Take<uint16_t>() % 1100;
  std::string_view raw = in.Rest();
  std::vector<WCHAR> format(raw.size() / 2 + 1, 0);
  std::memcpy(format.data(), raw.data(), raw.size() / 2 * 2);

  // Conversions and '*' each take at most 8 bytes of arguments: two slots.
  int takes = 0;
  for (WCHAR c : format) takes += (c == u'%' || c == u'*') ? 1 : 0;
  if (2 * takes > kSlots) return 0;

  const void* a = kText;
#define FUZZ_ARGS a, a, a, a, a, a, a, a, a, a, a, a
  if (which & 1) {
    std::unique_ptr<WCHAR[]> out(new WCHAR[count]);
    int n = _snwprintf(out.get(), count, format.data(), FUZZ_ARGS);
    if (n >= 0 && static_cast<size_t>(n) >= count && count) __builtin_trap();  // claimed more than fits
  } else {
    // wsprintfW writes at most 1024 characters with the NUL.
    std::unique_ptr<WCHAR[]> out(new WCHAR[1024]);
    int n = wsprintfW(out.get(), format.data(), FUZZ_ARGS);
    if (n > 1023) __builtin_trap();
  }
#undef FUZZ_ARGS
  return 0;
}
