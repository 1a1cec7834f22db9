#include "xmldocument.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orbhost::services {

const XmlAttribute* XmlElement::FindAttribute(std::string_view name) const {
  for (const XmlAttribute& a : attributes_) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

namespace {

bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Characters XML allows in a document (numeric references must name one of them).
bool IsXmlChar(uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

}  // namespace

// The parser proper: one pass over the bytes with an explicit element stack.
class XmlParserEngine {
 public:
  XmlParserEngine(std::string_view text, XmlError& err) : s_(text), err_(err) {}

  std::unique_ptr<XmlDocument> Run() {
    if (s_.size() >= 3 && static_cast<unsigned char>(s_[0]) == 0xEF &&
        static_cast<unsigned char>(s_[1]) == 0xBB && static_cast<unsigned char>(s_[2]) == 0xBF) {
      pos_ = 3;
    }
    auto doc = std::make_unique<XmlDocument>();
    // Prolog: declaration, comments, processing instructions, a document type.
    if (!SkipMisc(true)) return nullptr;
    if (AtEnd()) return Fail("no document element");
    if (Peek() != '<') return Fail("text outside the document element");
    doc->root_ = ParseElementTree();
    if (!doc->root_) return nullptr;
    if (!SkipMisc(false)) return nullptr;
    if (!AtEnd()) {
      return Fail(Peek() == '<' ? "more than one document element" : "text after the document element");
    }
    return doc;
  }

 private:
  std::string_view s_;
  size_t pos_ = 0;
  int line_ = 1;
  XmlError& err_;

  bool AtEnd() const { return pos_ >= s_.size(); }
  unsigned char Peek(size_t ahead = 0) const {
    return pos_ + ahead < s_.size() ? static_cast<unsigned char>(s_[pos_ + ahead]) : 0;
  }
  bool StartsWith(std::string_view w) const { return s_.substr(pos_, w.size()) == w; }
  void Advance(size_t n = 1) {
    for (size_t i = 0; i < n && pos_ < s_.size(); ++i) {
      if (s_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }

  std::nullptr_t Fail(const std::string& what) { return FailAt(line_, what); }
  std::nullptr_t FailAt(int line, const std::string& what) {
    if (err_.status == XmlStatus::kOk) {
      err_.status = XmlStatus::kMalformed;
      err_.line = line;
      err_.message = "line " + std::to_string(line) + ": " + what;
    }
    return nullptr;
  }

  void SkipSpace() {
    while (!AtEnd() && IsSpace(Peek())) Advance();
  }

  bool ParseName(std::string& out) {
    if (AtEnd() || !IsNameStart(Peek())) return false;
    size_t start = pos_;
    while (!AtEnd() && IsNameChar(Peek())) ++pos_;
    out.assign(s_.substr(start, pos_ - start));
    return true;
  }

  // Skips up to and including `terminator`; fails with `what` when it never comes.
  bool SkipPast(std::string_view terminator, const char* what) {
    int startLine = line_;
    size_t at = s_.find(terminator, pos_);
    if (at == std::string_view::npos) {
      FailAt(startLine, what);
      return false;
    }
    Advance(at + terminator.size() - pos_);
    return true;
  }

  bool SkipComment() {  // at "<!--"
    int startLine = line_;
    Advance(4);
    size_t at = s_.find("--", pos_);
    if (at == std::string_view::npos) {
      FailAt(startLine, "comment not closed");
      return false;
    }
    Advance(at - pos_);
    if (Peek(2) != '>') {
      Fail("\"--\" inside a comment");
      return false;
    }
    Advance(3);
    return true;
  }

  bool SkipProcessingInstruction() {  // at "<?"
    Advance(2);
    std::string target;
    if (!ParseName(target)) {
      Fail("processing instruction without a target");
      return false;
    }
    return SkipPast("?>", "processing instruction not closed");
  }

  bool SkipDoctype() {  // at "<!DOCTYPE"; an internal subset is skipped, not interpreted
    int startLine = line_;
    Advance(9);
    int bracket = 0;
    while (!AtEnd()) {
      unsigned char c = Peek();
      if (c == '"' || c == '\'') {
        char q = static_cast<char>(c);
        Advance();
        size_t at = s_.find(q, pos_);
        if (at == std::string_view::npos) break;
        Advance(at + 1 - pos_);
        continue;
      }
      if (c == '[') ++bracket;
      if (c == ']') --bracket;
      Advance();
      if (c == '>' && bracket <= 0) return true;
    }
    FailAt(startLine, "document type declaration not closed");
    return false;
  }

  // Whitespace, comments and processing instructions around the document element.
  bool SkipMisc(bool prolog) {
    bool seenDoctype = false;
    for (;;) {
      SkipSpace();
      if (AtEnd()) return true;
      if (StartsWith("<!--")) {
        if (!SkipComment()) return false;
      } else if (StartsWith("<?")) {
        if (!SkipProcessingInstruction()) return false;
      } else if (prolog && !seenDoctype && StartsWith("<!DOCTYPE")) {
        if (!SkipDoctype()) return false;
        seenDoctype = true;
      } else {
        return true;
      }
    }
  }

  // Expands one reference at '&' into out.
  bool ParseReference(std::string& out) {
    size_t semi = s_.find(';', pos_);
    if (semi == std::string_view::npos || semi - pos_ > 12) {
      Fail("'&' not followed by an entity reference");
      return false;
    }
    std::string_view ref = s_.substr(pos_ + 1, semi - pos_ - 1);
    if (ref == "lt") out.push_back('<');
    else if (ref == "gt") out.push_back('>');
    else if (ref == "amp") out.push_back('&');
    else if (ref == "quot") out.push_back('"');
    else if (ref == "apos") out.push_back('\'');
    else if (ref.size() >= 2 && ref[0] == '#') {
      bool hex = ref[1] == 'x';
      std::string_view digits = ref.substr(hex ? 2 : 1);
      if (digits.empty()) {
        Fail("empty character reference");
        return false;
      }
      uint32_t cp = 0;
      for (char ch : digits) {
        uint32_t d;
        if (ch >= '0' && ch <= '9') d = static_cast<uint32_t>(ch - '0');
        else if (hex && ch >= 'a' && ch <= 'f') d = static_cast<uint32_t>(ch - 'a' + 10);
        else if (hex && ch >= 'A' && ch <= 'F') d = static_cast<uint32_t>(ch - 'A' + 10);
        else {
          Fail("bad character reference &" + std::string(ref) + ";");
          return false;
        }
        cp = cp * (hex ? 16 : 10) + d;
        if (cp > 0x10FFFF) break;
      }
      if (!IsXmlChar(cp)) {
        Fail("character reference &" + std::string(ref) + "; names no XML character");
        return false;
      }
      AppendUtf8(out, cp);
    } else {
      Fail("unknown entity &" + std::string(ref) + ";");
      return false;
    }
    Advance(semi + 1 - pos_);
    return true;
  }

  bool ParseAttributeValue(std::string& out) {
    unsigned char q = Peek();
    if (q != '"' && q != '\'') {
      Fail("attribute value not quoted");
      return false;
    }
    int startLine = line_;
    Advance();
    for (;;) {
      if (AtEnd()) {
        FailAt(startLine, "attribute value not closed");
        return false;
      }
      unsigned char c = Peek();
      if (c == q) {
        Advance();
        return true;
      }
      if (c == '<') {
        Fail("'<' inside an attribute value");
        return false;
      }
      if (c == '&') {
        if (!ParseReference(out)) return false;
        continue;
      }
      // Attribute-value normalisation: literal white space becomes a blank.
      if (c == '\r' && Peek(1) == '\n') {
        Advance(2);
        out.push_back(' ');
        continue;
      }
      out.push_back(IsSpace(c) ? ' ' : static_cast<char>(c));
      Advance();
    }
  }

  // At '<' + name. Reads the start tag; sets selfClosing.
  std::unique_ptr<XmlElement> ParseStartTag(bool& selfClosing) {
    auto el = std::make_unique<XmlElement>();
    el->line_ = line_;
    Advance();  // '<'
    if (!ParseName(el->name_)) return Fail("bad element name");
    for (;;) {
      bool hadSpace = !AtEnd() && IsSpace(Peek());
      SkipSpace();
      if (AtEnd()) return FailAt(el->line_, "start tag <" + el->name_ + "> not closed");
      if (Peek() == '>') {
        Advance();
        selfClosing = false;
        return el;
      }
      if (Peek() == '/' && Peek(1) == '>') {
        Advance(2);
        selfClosing = true;
        return el;
      }
      if (!hadSpace) return Fail("missing blank before an attribute in <" + el->name_ + ">");
      XmlAttribute attr;
      if (!ParseName(attr.name)) return Fail("bad attribute name in <" + el->name_ + ">");
      SkipSpace();
      if (Peek() != '=') return Fail("attribute " + attr.name + " without '='");
      Advance();
      SkipSpace();
      if (!ParseAttributeValue(attr.value)) return nullptr;
      el->attributes_.push_back(std::move(attr));
    }
  }

  std::unique_ptr<XmlElement> ParseElementTree() {
    bool selfClosing = false;
    std::unique_ptr<XmlElement> root = ParseStartTag(selfClosing);
    if (!root || selfClosing) return root;
    std::vector<XmlElement*> stack{root.get()};
    while (!stack.empty()) {
      XmlElement* cur = stack.back();
      if (AtEnd()) return FailAt(cur->line_, "element <" + cur->name_ + "> not closed");
      unsigned char c = Peek();
      if (c != '<') {
        if (c == '&') {
          if (!ParseReference(cur->text_)) return nullptr;
        } else if (c == '\r') {  // line ends reach the reader as a single '\n'
          Advance();
          if (Peek() != '\n') cur->text_.push_back('\n');
        } else if (c == '>' && pos_ >= 2 && s_[pos_ - 1] == ']' && s_[pos_ - 2] == ']') {
          return Fail("\"]]>\" in text");
        } else {
          cur->text_.push_back(static_cast<char>(c));
          Advance();
        }
        continue;
      }
      if (StartsWith("</")) {
        int tagLine = line_;
        Advance(2);
        std::string name;
        if (!ParseName(name)) return Fail("bad end tag");
        SkipSpace();
        if (Peek() != '>') return Fail("end tag </" + name + "> not closed");
        Advance();
        if (name != cur->name_) {
          return FailAt(tagLine, "end tag </" + name + "> does not match <" + cur->name_ + "> of line " +
                                     std::to_string(cur->line_));
        }
        stack.pop_back();
      } else if (StartsWith("<!--")) {
        if (!SkipComment()) return nullptr;
      } else if (StartsWith("<![CDATA[")) {
        int startLine = line_;
        Advance(9);
        size_t at = s_.find("]]>", pos_);
        if (at == std::string_view::npos) return FailAt(startLine, "CDATA section not closed");
        std::string_view body = s_.substr(pos_, at - pos_);
        for (size_t i = 0; i < body.size(); ++i) {
          if (body[i] == '\r') {
            if (i + 1 >= body.size() || body[i + 1] != '\n') cur->text_.push_back('\n');
          } else {
            cur->text_.push_back(body[i]);
          }
        }
        Advance(at + 3 - pos_);
      } else if (StartsWith("<?")) {
        if (!SkipProcessingInstruction()) return nullptr;
      } else if (StartsWith("<!")) {
        return Fail("markup declaration inside an element");
      } else {
        if (static_cast<int>(stack.size()) >= XmlDocument::kMaxDepth) {
          return Fail("elements nested deeper than " + std::to_string(XmlDocument::kMaxDepth));
        }
        std::unique_ptr<XmlElement> child = ParseStartTag(selfClosing);
        if (!child) return nullptr;
        XmlElement* raw = child.get();
        cur->children_.push_back(std::move(child));
        if (!selfClosing) stack.push_back(raw);
      }
    }
    return root;
  }
};

std::unique_ptr<XmlDocument> XmlDocument::Parse(std::string_view text, XmlError& err) {
  err = XmlError{};
  if (text.size() > kMaxInputBytes) {
    err.status = XmlStatus::kTooLarge;
    err.message = "document larger than " + std::to_string(kMaxInputBytes) + " bytes";
    return nullptr;
  }
  if (text.find('\0') != std::string_view::npos) {
    // A NUL is never part of an XML document (a UTF-16 file shows up this way).
    size_t at = text.find('\0');
    int line = 1;
    for (size_t i = 0; i < at; ++i) line += text[i] == '\n';
    err.status = XmlStatus::kMalformed;
    err.line = line;
    err.message = "line " + std::to_string(line) + ": NUL byte in the document (not UTF-8?)";
    return nullptr;
  }
  XmlParserEngine engine(text, err);
  return engine.Run();
}

std::unique_ptr<XmlDocument> XmlDocument::LoadFile(const std::string& hostPath, XmlError& err) {
  err = XmlError{};
  FILE* f = std::fopen(hostPath.c_str(), "rb");
  if (!f) {
    int e = errno;
    err.status = (e == ENOENT || e == ENOTDIR) ? XmlStatus::kFileNotFound : XmlStatus::kReadError;
    err.message = "cannot open " + hostPath + ": " + std::strerror(e);
    return nullptr;
  }
  std::string data;
  char buf[16384];
  size_t n;
  bool tooLarge = false;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (data.size() + n > kMaxInputBytes) {
      tooLarge = true;
      break;
    }
    data.append(buf, n);
  }
  bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (tooLarge) {
    err.status = XmlStatus::kTooLarge;
    err.message = hostPath + ": larger than " + std::to_string(kMaxInputBytes) + " bytes";
    return nullptr;
  }
  if (readError) {
    err.status = XmlStatus::kReadError;
    err.message = "cannot read " + hostPath;
    return nullptr;
  }
  std::unique_ptr<XmlDocument> doc = Parse(data, err);
  if (!doc && err.status == XmlStatus::kMalformed) err.message = hostPath + ": " + err.message;
  return doc;
}

}  // namespace orbhost::services
