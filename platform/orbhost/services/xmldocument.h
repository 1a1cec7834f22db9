// Small XML reader for the host's configuration files.
//
// Builds a tree of elements with their attributes (kept in document order, duplicates
// included, because readers take the first one of a name) and their character data.
// Child lists hold elements only; comments and processing instructions are dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orbhost::services {

struct XmlAttribute {
  std::string name;
  std::string value;
};

class XmlElement {
 public:
  const std::string& Name() const { return name_; }
  const std::vector<XmlAttribute>& Attributes() const { return attributes_; }
  const std::vector<std::unique_ptr<XmlElement>>& Children() const { return children_; }
  // The element's own character data (text and CDATA), children's text excluded.
  const std::string& Text() const { return text_; }
  int Line() const { return line_; }
  // First attribute with exactly this name, or null.
  const XmlAttribute* FindAttribute(std::string_view name) const;

 private:
  friend class XmlParserEngine;
  std::string name_;
  std::vector<XmlAttribute> attributes_;
  std::vector<std::unique_ptr<XmlElement>> children_;
  std::string text_;
  int line_ = 0;
};

enum class XmlStatus { kOk, kFileNotFound, kReadError, kMalformed, kTooLarge };

struct XmlError {
  XmlStatus status = XmlStatus::kOk;
  int line = 0;          // 1-based line of the fault, 0 when not tied to a line
  std::string message;   // e.g. "line 4: end tag </b> does not match <a>"
};

class XmlDocument {
 public:
  // Largest file or text accepted; configuration files are a few kilobytes.
  static constexpr size_t kMaxInputBytes = 16u << 20;
  // Deepest element nesting accepted (keeps destruction and callers' walks shallow).
  static constexpr int kMaxDepth = 256;

  // Parses a whole document held in memory. Null on failure, with `err` filled.
  static std::unique_ptr<XmlDocument> Parse(std::string_view text, XmlError& err);
  // Reads and parses a file by its host path.
  static std::unique_ptr<XmlDocument> LoadFile(const std::string& hostPath, XmlError& err);

  const XmlElement& Root() const { return *root_; }

 private:
  friend class XmlParserEngine;
  std::unique_ptr<XmlElement> root_;
};

}  // namespace orbhost::services
