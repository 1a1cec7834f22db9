// The host's XML reader (ZUEUID_CLASS_XML_PARSER): a loaded document and the element,
// list and attribute objects handed out from it. Every object keeps the document alive.
#include <memory>
#include <new>

#include "internal.h"
#include "ixmlparser.h"
#include "servicesinternal.h"
#include "xmldocument.h"

namespace orbhost::services {
namespace {

using DocPtr = std::shared_ptr<const XmlDocument>;

// Copies a text with the reader's length rules (see ixmlparser.h).
PvlResult CopyText(const std::string& text, char* buffer, uint32_t size, uint32_t* length) {
  if (!buffer && size != 0) return PVL_E_NULLPTR;
  if (length) *length = static_cast<uint32_t>(text.size() + 1);
  if (buffer && size > 0) {
    size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return PVL_OK;
}

template <class T, class... Args>
PvlResult HandOut(void** out, Args&&... args) {
  T* obj = new (std::nothrow) T(std::forward<Args>(args)...);
  if (!obj) return PVL_E_OUTOFMEMORY;
  *out = static_cast<typename T::Interface*>(obj);
  return PVL_OK;
}

class Attribute final : public HostObject<IXmlAttribute> {
 public:
  Attribute(DocPtr doc, const XmlAttribute* attr) : m_doc(std::move(doc)), m_attr(attr) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_XML_ATTRIBUTE); }
  PvlResult GetName(char* b, uint32_t s, uint32_t* l) override { return CopyText(m_attr->name, b, s, l); }
  PvlResult GetValue(char* b, uint32_t s, uint32_t* l) override { return CopyText(m_attr->value, b, s, l); }

 private:
  DocPtr m_doc;
  const XmlAttribute* m_attr;
};

class AttributeList final : public HostObject<IXmlAttributeList> {
 public:
  AttributeList(DocPtr doc, const XmlElement* el) : m_doc(std::move(doc)), m_el(el) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    return AnswerQuery(iid, out, ZUEUID_IFACE_XML_ATTRIBUTE_LIST);
  }
  PvlResult GetCount(uint32_t* count) override {
    if (!count) return PVL_E_NULLPTR;
    *count = static_cast<uint32_t>(m_el->Attributes().size());
    return PVL_OK;
  }
  PvlResult GetItem(uint32_t index, IXmlAttribute** attribute) override {
    if (!attribute) return PVL_E_NULLPTR;
    *attribute = nullptr;
    if (index >= m_el->Attributes().size()) return PVL_E_BADARG;
    return HandOut<Attribute>(reinterpret_cast<void**>(attribute), m_doc, &m_el->Attributes()[index]);
  }

 private:
  DocPtr m_doc;
  const XmlElement* m_el;
};

class Element;

class ElementList final : public HostObject<IXmlElementList> {
 public:
  ElementList(DocPtr doc, const XmlElement* el) : m_doc(std::move(doc)), m_el(el) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    return AnswerQuery(iid, out, ZUEUID_IFACE_XML_ELEMENT_LIST);
  }
  PvlResult GetCount(uint32_t* count) override {
    if (!count) return PVL_E_NULLPTR;
    *count = static_cast<uint32_t>(m_el->Children().size());
    return PVL_OK;
  }
  PvlResult GetItem(uint32_t index, IXmlElement** element) override;

 private:
  DocPtr m_doc;
  const XmlElement* m_el;
};

class Element final : public HostObject<IXmlElement> {
 public:
  Element(DocPtr doc, const XmlElement* el) : m_doc(std::move(doc)), m_el(el) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_XML_ELEMENT); }
  PvlResult GetName(char* b, uint32_t s, uint32_t* l) override { return CopyText(m_el->Name(), b, s, l); }
  PvlResult GetChildren(IXmlElementList** children) override {
    if (!children) return PVL_E_NULLPTR;
    *children = nullptr;
    return HandOut<ElementList>(reinterpret_cast<void**>(children), m_doc, m_el);
  }
  PvlResult GetAttributes(IXmlAttributeList** attributes) override {
    if (!attributes) return PVL_E_NULLPTR;
    *attributes = nullptr;
    return HandOut<AttributeList>(reinterpret_cast<void**>(attributes), m_doc, m_el);
  }
  PvlResult GetText(char* b, uint32_t s, uint32_t* l) override { return CopyText(m_el->Text(), b, s, l); }

 private:
  DocPtr m_doc;
  const XmlElement* m_el;
};

PvlResult ElementList::GetItem(uint32_t index, IXmlElement** element) {
  if (!element) return PVL_E_NULLPTR;
  *element = nullptr;
  if (index >= m_el->Children().size()) return PVL_E_BADARG;
  return HandOut<Element>(reinterpret_cast<void**>(element), m_doc, m_el->Children()[index].get());
}

class Document final : public HostObject<IXmlDocument> {
 public:
  explicit Document(DocPtr doc) : m_doc(std::move(doc)) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_XML_DOCUMENT); }
  PvlResult GetDocumentElement(IXmlElement** element) override {
    if (!element) return PVL_E_NULLPTR;
    *element = nullptr;
    return HandOut<Element>(reinterpret_cast<void**>(element), m_doc, &m_doc->Root());
  }

 private:
  DocPtr m_doc;
};

class XmlParser final : public HostObject<IXmlParser> {
 public:
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_XML_PARSER); }

  PvlResult Load(const char* path, IXmlDocument** document) override {
    if (!path || !document) {
      if (document) *document = nullptr;
      return PVL_E_NULLPTR;
    }
    *document = nullptr;
    std::string hostPath;
    if (!HostPath(path, &hostPath)) {
      Log("XML: \"%s\" is not a path of the device", path);
      return PVL_E_BADARG;
    }
    XmlError err;
    std::unique_ptr<XmlDocument> doc;
    try {
      doc = XmlDocument::LoadFile(hostPath, err);
    } catch (const std::bad_alloc&) {
      Log("XML: out of memory reading \"%s\"", path);
      return PVL_E_OUTOFMEMORY;
    }
    if (!doc) {
      if (err.status == XmlStatus::kFileNotFound) {
        Log("XML: \"%s\" not found", path);
        return PVL_E_NOTFOUND;
      }
      // The message names the host file and the line.
      Log("XML: cannot load \"%s\": %s", path, err.message.c_str());
      return PVL_E_FAIL;
    }
    DocPtr shared;
    try {
      shared = DocPtr(std::move(doc));
    } catch (const std::bad_alloc&) {
      return PVL_E_OUTOFMEMORY;
    }
    return HandOut<Document>(reinterpret_cast<void**>(document), std::move(shared));
  }
};

}  // namespace

PvlResult CreateXmlParser(void** out) { return HandOut<XmlParser>(out); }

}  // namespace orbhost::services
