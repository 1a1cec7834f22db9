// Helpers of the fuzz targets: reading fields off the input, and a private device image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace camera::fuzz {

// Takes fixed-size fields from the front of the input; past its end they read as zero.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  template <class T>
  T Take() {
    T v{};
    size_t k = n_ < sizeof v ? n_ : sizeof v;
    if (k) std::memcpy(&v, p_, k);
    p_ += k;
    n_ -= k;
    return v;
  }
  // Up to `max` bytes.
  std::string_view Bytes(size_t max) {
    size_t k = n_ < max ? n_ : max;
    std::string_view s(reinterpret_cast<const char*>(p_), k);
    p_ += k;
    n_ -= k;
    return s;
  }
  std::string_view Rest() { return Bytes(n_); }
  size_t Left() const { return n_; }

 private:
  const uint8_t* p_;
  size_t n_;
};

// A fresh device image in a temporary directory (Windows/, fs/, registry.d/), made the
// stack's image root. Debug output is silenced: the targets log on every refusal.
std::string MakeFuzzImage();

// Replaces a file of the image with `contents`.
void WriteImageFile(const std::string& root, const std::string& relative, std::string_view contents);

}  // namespace camera::fuzz
