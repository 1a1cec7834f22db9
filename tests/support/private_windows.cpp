#include "private_windows.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "image_copy.h"

namespace fs = std::filesystem;

namespace camera::test {

void UsePrivateWindowsCopy() {
  fs::path windows = ImagePath("Windows");
  std::error_code ec;
  if (!fs::is_symlink(windows, ec)) return;   // already a copy of its own
  fs::path source = fs::canonical(windows, ec);
  if (ec) throw std::runtime_error("the image's Windows/ link is broken: " + ec.message());
  fs::path staging = ImagePath("Windows.copy");
  fs::remove_all(staging, ec);
  fs::copy(source, staging, fs::copy_options::recursive, ec);
  if (ec) throw std::runtime_error("cannot copy " + source.string() + ": " + ec.message());
  fs::remove(windows, ec);   // the link only, never what it points at
  if (!ec) fs::rename(staging, windows, ec);
  if (ec) throw std::runtime_error("cannot put the private Windows/ in place: " + ec.message());
}

}  // namespace camera::test
