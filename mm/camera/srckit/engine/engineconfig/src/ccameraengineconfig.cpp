#include "ccameraengineconfig.h"

#include "ixmlparser.h"
#include "pvllog.h"
#include "pvlstring.h"

namespace {

// Names and values are read into buffers of this size; the parser reports the
// full length with the terminator, so a longer text is seen, not cut silently.
constexpr uint32_t kTextSize = 50;

bool NameIs(IXmlElement* element, const char* name) {
  char buffer[kTextSize] = {};
  uint32_t length = 0;
  if (element->GetName(buffer, kTextSize, &length) != PVL_OK) return false;
  return length <= kTextSize && pvl_stricmp(buffer, name) == 0;
}

// The first attribute of the element with this name (any case): 14 for a name
// too long to compare, 39 when the element has none.
PvlResult FindAttribute(IXmlElement* element, const char* name, IXmlAttribute** out) {
  if (pvl_strlen(name) + 1 > kTextSize) return PVL_E_BADARG;
  CPvlPtr<IXmlAttributeList> list;
  PvlResult r = element->GetAttributes(&list);
  if (r != PVL_OK) return r;
  uint32_t count = 0;
  r = list->GetCount(&count);
  if (r != PVL_OK) return r;
  for (uint32_t i = 0; i < count; ++i) {
    CPvlPtr<IXmlAttribute> attribute;
    r = list->GetItem(i, &attribute);
    if (r != PVL_OK) return r;
    char buffer[kTextSize] = {};
    uint32_t length = 0;
    r = attribute->GetName(buffer, kTextSize, &length);
    if (r != PVL_OK) return r;
    if (length <= kTextSize && pvl_stricmp(buffer, name) == 0) {
      *out = attribute.Detach();
      return PVL_OK;
    }
  }
  return PVL_E_NOTFOUND;
}

// The attribute's text and its reported length (terminator included).
PvlResult ReadText(IXmlElement* element, const char* name, char (&buffer)[kTextSize], uint32_t* length) {
  CPvlPtr<IXmlAttribute> attribute;
  PvlResult r = FindAttribute(element, name, &attribute);
  if (r != PVL_OK) return r;
  buffer[0] = '\0';
  *length = 0;
  return attribute->GetValue(buffer, kTextSize, length);
}

// Automatic base ("0x" hexadecimal, leading "0" octal); text without digits is 0.
PvlResult ReadNumber(IXmlElement* element, const char* name, uint32_t* value) {
  char buffer[kTextSize];
  uint32_t length = 0;
  PvlResult r = ReadText(element, name, buffer, &length);
  if (r != PVL_OK) return r;
  if (length >= kTextSize) return PVL_E_FAIL;
  int32_t status = 0;
  *value = pvl_strtoul(buffer, nullptr, 0, &status);
  return PVL_OK;
}

PvlResult ReadRole(IXmlElement* element, uint32_t* role) {
  char buffer[kTextSize];
  uint32_t length = 0;
  PvlResult r = ReadText(element, "Role", buffer, &length);
  if (r != PVL_OK) return r;
  *role = 3;
  if (length > kTextSize) return PVL_OK;
  static const char* const kRoles[] = {"AWB", "AEC", "AF"};
  for (uint32_t i = 0; i < 3; ++i) {
    if (pvl_stricmp(buffer, kRoles[i]) == 0) {
      *role = i;
      break;
    }
  }
  return PVL_OK;
}

PvlResult ReadFlag(IXmlElement* element, const char* name, uint8_t* flag) {
  char buffer[kTextSize];
  uint32_t length = 0;
  PvlResult r = ReadText(element, name, buffer, &length);
  if (r != PVL_OK) return r;
  *flag = length <= kTextSize && pvl_stricmp(buffer, "TRUE") == 0 ? 1 : 0;
  return PVL_OK;
}

// The element's children in order; calls each(child) until one fails.
template <class Each>
PvlResult ForEachChild(IXmlElement* element, Each each) {
  CPvlPtr<IXmlElementList> children;
  PvlResult r = element->GetChildren(&children);
  if (r != PVL_OK) return r;
  uint32_t count = 0;
  r = children->GetCount(&count);
  if (r != PVL_OK) return r;
  for (uint32_t i = 0; i < count && r == PVL_OK; ++i) {
    CPvlPtr<IXmlElement> child;
    r = children->GetItem(i, &child);
    if (r == PVL_OK) r = each(child.Get(), i);
  }
  return r;
}

}  // namespace

const BestShotConfigEntry& SensorConfigEntry::GetBestShot(uint32_t index) const {
  if (index >= bestShots.size()) throw Camera::CZUEException(PVL_E_BADARG);
  return bestShots[index];
}

CCameraEngineConfig::CCameraEngineConfig(IEnv* env, PvlResult* result)
    : CCameraEngineConfig(env, CAMERA_ENGINE_CONFIG_PATH, result) {}

CCameraEngineConfig::CCameraEngineConfig(IEnv* env, const char* path, PvlResult* result) : m_env(env) {
  PvlResult r = Read(path);
  if (result) *result = r;
}

CCameraEngineConfig::~CCameraEngineConfig() {
  m_sensors.clear();
  m_elfs.clear();
  m_env.Reset();
}

const ElfsConfigEntry& CCameraEngineConfig::GetElfsEntry(uint32_t index) const {
  if (index >= m_elfs.size()) throw Camera::CZUEException(PVL_E_BADARG);
  return m_elfs[index];
}

const SensorConfigEntry& CCameraEngineConfig::GetSensorConfig(uint32_t index) const {
  if (index >= m_sensors.size()) throw Camera::CZUEException(PVL_E_BADARG);
  return m_sensors[index];
}

PvlResult CCameraEngineConfig::Read(const char* path) {
  if (!m_env) return PVL_E_NULLPTR;
  CPvlPtr<IXmlParser> parser;
  PvlResult r = m_env->CreateInstance(ZUEUID_CLASS_XML_PARSER, parser.Out());
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Engine configuration: no XML parser (%d)", int(r));
    return r;
  }
  // A file that is missing or not well-formed: the parser's own line names the
  // file and the line that broke.
  CPvlPtr<IXmlDocument> document;
  r = parser->Load(path, &document);
  CPvlPtr<IXmlElement> root;
  if (r == PVL_OK) r = document->GetDocumentElement(&root);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Engine configuration \"%s\" cannot be read (%d)", path, int(r));
    return r;
  }
  return ForEachChild(root.Get(), [&](IXmlElement* child, uint32_t i) {
    PvlResult c = PVL_OK;
    const char* what = nullptr;
    if (NameIs(child, "SensorConfig")) {
      what = "SensorConfig";
      c = ReadSensorConfig(child);
    } else if (NameIs(child, "ELFS")) {
      what = "ELFS";
      c = ReadElfs(child);
    }
    if (c != PVL_OK)
      CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Engine configuration \"%s\": element %u (%s) refused (%d)", path,
                       unsigned(i + 1), what, int(c));
    return c;
  });
}

PvlResult CCameraEngineConfig::ReadSensorConfig(IXmlElement* element) {
  SensorConfigEntry entry;
  PvlResult r = ReadNumber(element, "ClassID", &entry.classId);
  if (r != PVL_OK) return r;
  r = ForEachChild(element, [&](IXmlElement* child, uint32_t) {
    if (NameIs(child, "DefaultTuningData")) return ReadNumber(child, "ClassID", &entry.defaultTuningData);
    if (!NameIs(child, "BestShotConfig")) return PVL_OK;
    BestShotConfigEntry shot;
    char name[kTextSize];
    uint32_t length = 0;
    PvlResult s = ReadText(child, "Name", name, &length);
    if (s != PVL_OK) return s;
    if (length > kTextSize) return PvlResult(PVL_E_FAIL);
    pvl_strlcpy(shot.name, name, sizeof shot.name);
    s = ReadNumber(child, "Index", &shot.index);
    if (s == PVL_OK) s = ReadNumber(child, "ClassID", &shot.classId);
    if (s == PVL_OK) entry.bestShots.push_back(shot);
    return s;
  });
  if (r != PVL_OK) return r;
  m_sensors.push_back(std::move(entry));
  return PVL_OK;
}

PvlResult CCameraEngineConfig::ReadElfs(IXmlElement* element) {
  return ForEachChild(element, [&](IXmlElement* child, uint32_t) {
    ElfsConfigEntry entry;
    PvlResult r = ReadNumber(child, "ClassID", &entry.classId);
    if (r == PVL_OK) r = ReadRole(child, &entry.role);
    if (r == PVL_OK) r = ReadFlag(child, "OfflineProc", &entry.offlineProcessing);
    if (r == PVL_OK) m_elfs.push_back(entry);
    return r;
  });
}
