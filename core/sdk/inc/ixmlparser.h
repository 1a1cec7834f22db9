// IXmlParser (class ZUEUID_CLASS_XML_PARSER) and the objects of a loaded document.
//
// Texts (names, attribute values) are copied into the caller's buffer: the copy is
// cut to fit and always terminated, and *length receives the full length of the
// text including its terminator, so a caller can tell a cut text from a whole one
// (a null buffer with size 0 asks for the length only). Child lists hold elements
// only, in document order; attributes keep document order, duplicates included.
#ifndef IXMLPARSER_H
#define IXMLPARSER_H

#include <stdint.h>

#include "pvlbase.h"

#define ZUEUID_IFACE_XML_PARSER ZUEUID_CLASS_XML_PARSER
#define ZUEUID_IFACE_XML_DOCUMENT 0x0104f701u
#define ZUEUID_IFACE_XML_ELEMENT 0x0104f702u
#define ZUEUID_IFACE_XML_ELEMENT_LIST 0x0104f703u
#define ZUEUID_IFACE_XML_ATTRIBUTE 0x0104f704u
#define ZUEUID_IFACE_XML_ATTRIBUTE_LIST 0x0104f705u

class IXmlAttribute : public IPvlBase {
 public:
  virtual PvlResult GetName(char* buffer, uint32_t size, uint32_t* length) = 0;   // 3
  virtual PvlResult GetValue(char* buffer, uint32_t size, uint32_t* length) = 0;  // 4

 protected:
  ~IXmlAttribute() = default;
};

class IXmlAttributeList : public IPvlBase {
 public:
  virtual PvlResult GetCount(uint32_t* count) = 0;                          // 3
  // 14 for an index not below the count.
  virtual PvlResult GetItem(uint32_t index, IXmlAttribute** attribute) = 0;  // 4

 protected:
  ~IXmlAttributeList() = default;
};

class IXmlElement;

class IXmlElementList : public IPvlBase {
 public:
  virtual PvlResult GetCount(uint32_t* count) = 0;                      // 3
  // 14 for an index not below the count.
  virtual PvlResult GetItem(uint32_t index, IXmlElement** element) = 0;  // 4

 protected:
  ~IXmlElementList() = default;
};

class IXmlElement : public IPvlBase {
 public:
  virtual PvlResult GetName(char* buffer, uint32_t size, uint32_t* length) = 0;  // 3
  virtual PvlResult GetChildren(IXmlElementList** children) = 0;                  // 4
  virtual PvlResult GetAttributes(IXmlAttributeList** attributes) = 0;            // 5
  // The element's own character data (text and CDATA, children's text excluded).
  virtual PvlResult GetText(char* buffer, uint32_t size, uint32_t* length) = 0;  // 6

 protected:
  ~IXmlElement() = default;
};

class IXmlDocument : public IPvlBase {
 public:
  virtual PvlResult GetDocumentElement(IXmlElement** element) = 0;  // 3

 protected:
  ~IXmlDocument() = default;
};

class IXmlParser : public IPvlBase {
 public:
  // Loads and parses a file ("fs:/..." or a device path "\..."). 29 for a null
  // path or out; 39 when the file does not exist; 1 when it cannot be read or is
  // not well-formed (a log line says where).
  virtual PvlResult Load(const char* path, IXmlDocument** document) = 0;  // 3

 protected:
  ~IXmlParser() = default;
};

#endif
