// The host's XML reader: any text, then a walk over what it accepted.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xmldocument.h"

using namespace orbhost::services;

namespace {

size_t Walk(const XmlElement& e, int depth) {
  size_t n = e.Name().size() + e.Text().size();
  for (const XmlAttribute& a : e.Attributes()) n += a.name.size() + a.value.size();
  if (!e.Attributes().empty()) n += e.FindAttribute(e.Attributes().back().name) != nullptr;
  if (depth > XmlDocument::kMaxDepth) __builtin_trap();  // the reader promised to refuse deeper nesting
  for (const auto& c : e.Children()) n += Walk(*c, depth + 1);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XmlError err;
  auto doc = XmlDocument::Parse(std::string_view(reinterpret_cast<const char*>(data), size), err);
  if (doc) {
    volatile size_t sink = Walk(doc->Root(), 1);
    (void)sink;
  } else if (err.status == XmlStatus::kOk || err.message.empty()) {
    __builtin_trap();  // a refusal must say why
  }
  return 0;
}
