#include "tunvexprotocol.h"

#include <cstring>

namespace tunvex {

int CheckControlCode(uint32_t code, uint32_t* requestMax, uint32_t* responseSize) {
  if (code < kCodeLowest || code > kCodeHighest) return 1;
  uint32_t max = kParmsRequestMax;
  uint32_t resp = kResponseSize;
  if (code == kCodeGetList) {
    max = kGetListRequestMax;
  } else if (code == kCodeMiscCommand) {
    max = kMiscRequestMax;
    resp = kMiscResponseSize;
  }
  if (requestMax) *requestMax = max;
  if (responseSize) *responseSize = resp;
  return 0;
}

void EncodeAck(uint8_t out[kAckSize]) {
  PutU16(out, 1);
  PutU32(out + 2, 1);
}

bool IsAck(const uint8_t* in, size_t size) {
  return size == kAckSize && GetU16(in) == 1 && GetU32(in + 2) == 1;
}

std::vector<uint8_t> EncodeRequest(uint16_t code, const uint8_t* payload, uint32_t length) {
  std::vector<uint8_t> out(kHeaderSize + length + kTrailerSize, 0);
  PutU16(out.data(), code);
  PutU32(out.data() + 2, length);
  if (length) std::memcpy(out.data() + kHeaderSize, payload, length);
  return out;
}

std::vector<uint8_t> EncodeGetList(uint16_t firstId) {
  uint8_t p[2];
  PutU16(p, firstId);
  return EncodeRequest(kCodeGetList, p, sizeof p);
}

std::vector<uint8_t> EncodeMiscCommand(uint8_t subCommand) {
  return EncodeRequest(kCodeMiscCommand, &subCommand, 1);
}

std::vector<uint8_t> EncodeGetParms(const ParmRef* first, size_t count, size_t* taken) {
  // Answers that do not fit in the response are asked for again: fill the request.
  constexpr size_t kMaxRefs = (kParmsRequestMax - 2) / 4;
  size_t n = count < kMaxRefs ? count : kMaxRefs;
  std::vector<uint8_t> payload(2 + 4 * n);
  PutU16(payload.data(), uint16_t(n));
  for (size_t i = 0; i < n; ++i) {
    PutU16(payload.data() + 2 + 4 * i, first[i].id);
    PutU16(payload.data() + 4 + 4 * i, first[i].index);
  }
  if (taken) *taken = n;
  return EncodeRequest(kCodeGetParms, payload.data(), uint32_t(payload.size()));
}

std::vector<uint8_t> EncodeSetParms(const ParmWrite* first, size_t count, size_t* taken) {
  std::vector<uint8_t> payload(2, 0);
  size_t n = 0;
  for (; n < count && n < 0xFFFF; ++n) {
    const ParmWrite& w = first[n];
    if (w.text.find('\0') != std::string::npos) break;
    size_t entry = 4 + w.text.size() + 1;
    if (payload.size() + entry > kParmsRequestMax) break;
    size_t at = payload.size();
    payload.resize(at + entry);
    PutU16(payload.data() + at, w.id);
    PutU16(payload.data() + at + 2, w.index);
    std::memcpy(payload.data() + at + 4, w.text.data(), w.text.size());
    payload[at + 4 + w.text.size()] = 0;
  }
  if (taken) *taken = n;
  if (n == 0) return {};
  PutU16(payload.data(), uint16_t(n));
  return EncodeRequest(kCodeSetParms, payload.data(), uint32_t(payload.size()));
}

uint32_t ReplySize(uint16_t code) {
  uint32_t resp = kResponseSize;
  CheckControlCode(code, nullptr, &resp);
  return 1 + resp;
}

namespace {

// A NUL-terminated text starting at `at` that ends before `size`, of at most
// `maxLen` characters; advances `at` past the NUL.
bool TakeText(const uint8_t* buf, size_t size, size_t* at, size_t maxLen, std::string* out) {
  const void* nul = std::memchr(buf + *at, 0, size - *at);
  if (!nul) return false;
  size_t len = size_t(static_cast<const uint8_t*>(nul) - (buf + *at));
  if (len > maxLen) return false;
  out->assign(reinterpret_cast<const char*>(buf + *at), len);
  *at += len + 1;
  return true;
}

}  // namespace

bool DecodeGetList(const uint8_t* response, size_t size, ListPage* page) {
  if (!response || size < 3 || !page) return false;
  if (response[0] > 1) return false;
  page->more = response[0] == 1;
  page->entries.clear();
  uint16_t n = GetU16(response + 1);
  size_t at = 3;
  for (uint16_t i = 0; i < n; ++i) {
    if (size - at < 9) return false;
    ListEntry e;
    e.id = GetU16(response + at);
    e.count = GetU16(response + at + 2);
    e.flags = GetU32(response + at + 4);
    at += 8;
    if (!TakeText(response, size, &at, kMaxListName, &e.name)) return false;
    page->entries.push_back(std::move(e));
  }
  return true;
}

bool DecodeGetParms(const uint8_t* response, size_t size, ParmsAnswer* answer) {
  if (!response || size < 3 || !answer) return false;
  answer->changesPending = response[0] != 0;
  answer->values.clear();
  uint16_t n = GetU16(response + 1);
  size_t at = 3;
  for (uint16_t i = 0; i < n; ++i) {
    if (size - at < 5) return false;
    ParmValue v;
    v.id = GetU16(response + at);
    v.index = GetU16(response + at + 2);
    at += 4;
    if (!TakeText(response, size, &at, kMaxValueText, &v.text)) return false;
    answer->values.push_back(std::move(v));
  }
  return true;
}

bool ParmsAnswerFull(const ParmsAnswer& answer) {
  size_t used = 3;
  for (const ParmValue& v : answer.values) used += 4 + v.text.size() + 1;
  return kResponseSize - used < 4 + kMaxValueText + 1;
}

bool DecodePendingFlag(const uint8_t* response, size_t size, bool* pending) {
  if (!response || size < 1 || !pending) return false;
  *pending = response[0] != 0;
  return true;
}

bool DecodeVersion(const uint8_t* response, size_t size, std::string* version) {
  if (!response || size < 1 || !version) return false;
  size_t at = 0;
  return TakeText(response, size, &at, size - 1, version);
}

}  // namespace tunvex
