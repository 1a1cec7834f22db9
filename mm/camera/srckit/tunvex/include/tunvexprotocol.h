// Wire format of the tuning protocol spoken between the PC tuning tool and the
// tuning server: framing, control codes, sizes, and the request and reply
// records of each code. Shared by the server and the command-line client.
//
// Every multi-byte field is little-endian and records are packed. A request is
// a 6-byte header {u16 code, u32 payload length L}, L payload bytes and 4 more
// bytes that the server consumes without reading. A reply is one success byte
// and the whole response block of the code (2048 bytes, 128 for MiscCommand).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tunvex {

constexpr uint16_t kDefaultPort = 55555;

constexpr uint16_t kCodeGetList = 1014;
constexpr uint16_t kCodeGetParms = 1015;
constexpr uint16_t kCodeSetParms = 1016;
constexpr uint16_t kCodeMiscCommand = 1021;
constexpr uint16_t kCodeLowest = 2;     // below: invalid
constexpr uint16_t kCodeHighest = 1021; // above: invalid

constexpr uint32_t kGetListRequestMax = 2;
constexpr uint32_t kParmsRequestMax = 1529;
constexpr uint32_t kMiscRequestMax = 128;
constexpr uint32_t kTrailerSize = 4;       // bytes after every payload, never read
constexpr uint32_t kReceiveBufferSize = kParmsRequestMax + kTrailerSize;  // 1533
constexpr uint32_t kResponseSize = 2048;
constexpr uint32_t kMiscResponseSize = 128;

constexpr uint8_t kMiscVersion = 0;
constexpr uint8_t kMiscApply = 1;
constexpr char kServerVersion[] = "2.1.0";

// Longest texts the server sends: item names in a list, element texts.
constexpr uint32_t kMaxListName = 99;
constexpr uint32_t kMaxValueText = 79;

// Item flag bits as the tool sees them.
constexpr uint32_t kFlagInfo = 0x01;        // reported unchanged
constexpr uint32_t kFlagHidden = 0x08;      // never listed
constexpr uint32_t kFlagNoJpeg = 0x20;      // left out of the JPEG text
constexpr uint32_t kFlagTuningData = 0x40;  // added to items of "TuningData"
constexpr uint32_t kFlagSummary = 0x80;     // cumulative summary item, never listed

#pragma pack(push, 1)
struct TunvexAck {
  uint16_t word;   // 1
  uint32_t dword;  // 1
};
struct TunvexHeader {
  uint16_t code;
  uint32_t length;
};
#pragma pack(pop)
static_assert(sizeof(TunvexAck) == 6);
static_assert(offsetof(TunvexAck, dword) == 2);
static_assert(sizeof(TunvexHeader) == 6);
static_assert(offsetof(TunvexHeader, length) == 2);

constexpr uint32_t kAckSize = sizeof(TunvexAck);
constexpr uint32_t kHeaderSize = sizeof(TunvexHeader);

// 0 and the request maximum and response size of a code; 1 for a code that is
// invalid (below 2 or above 1021). Codes 2..1021 other than the four named ones
// are valid on the wire but unrecognised by the dispatcher.
int CheckControlCode(uint32_t code, uint32_t* requestMax, uint32_t* responseSize);

// Little-endian field access on byte buffers.
inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

void EncodeAck(uint8_t out[kAckSize]);
bool IsAck(const uint8_t* in, size_t size);

// ---- Requests (tool side) ----

struct ParmRef {
  uint16_t id;
  uint16_t index;
};
struct ParmWrite {
  uint16_t id;
  uint16_t index;
  std::string text;
};

// One whole request: header, payload, trailer.
std::vector<uint8_t> EncodeRequest(uint16_t code, const uint8_t* payload, uint32_t length);
std::vector<uint8_t> EncodeGetList(uint16_t firstId);
std::vector<uint8_t> EncodeMiscCommand(uint8_t subCommand);

// GetParms and SetParms requests take as many entries from `first` on as fit in
// one request (381 references at most); `taken` tells how many. A SetParms text
// containing a NUL or one that cannot fit in an otherwise empty request gives an
// empty vector.
std::vector<uint8_t> EncodeGetParms(const ParmRef* first, size_t count, size_t* taken);
std::vector<uint8_t> EncodeSetParms(const ParmWrite* first, size_t count, size_t* taken);

// Size of the reply that follows a request with this code (success byte included).
uint32_t ReplySize(uint16_t code);

// ---- Replies (tool side); each false for a malformed response block ----

struct ListEntry {
  uint16_t id = 0;
  uint16_t count = 0;
  uint32_t flags = 0;
  std::string name;
};
struct ListPage {
  bool more = false;
  std::vector<ListEntry> entries;
};
bool DecodeGetList(const uint8_t* response, size_t size, ListPage* page);

struct ParmValue {
  uint16_t id = 0;
  uint16_t index = 0;
  std::string text;
};
struct ParmsAnswer {
  bool changesPending = false;
  std::vector<ParmValue> values;
};
bool DecodeGetParms(const uint8_t* response, size_t size, ParmsAnswer* answer);

// A GetParms answer with fewer entries than asked stopped either at an element
// the server cannot answer or for want of room in the block. True for the
// latter: the next text (79 characters at most) might not have fitted, so it
// is worth asking again from there.
bool ParmsAnswerFull(const ParmsAnswer& answer);

// SetParms and Apply both answer the changes-pending byte at offset 0.
bool DecodePendingFlag(const uint8_t* response, size_t size, bool* pending);

bool DecodeVersion(const uint8_t* response, size_t size, std::string* version);

}  // namespace tunvex
