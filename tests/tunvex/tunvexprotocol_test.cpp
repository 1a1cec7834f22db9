// The tuning protocol's wire format as the PC tool and the server see it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tunvexprotocol.h"

using namespace tunvex;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> b) {
  std::vector<uint8_t> v;
  for (int x : b) v.push_back(uint8_t(x));
  return v;
}

}  // namespace

TEST(TunvexProtocol, ControlCodeTable) {
  struct Case {
    uint32_t code;
    int result;
    uint32_t max;
    uint32_t resp;
  } cases[] = {
      {0, 1, 0, 0},         {1, 1, 0, 0},           {2, 0, 1529, 2048},   {1014, 0, 2, 2048},
      {1015, 0, 1529, 2048}, {1016, 0, 1529, 2048}, {1020, 0, 1529, 2048}, {1021, 0, 128, 128},
      {1022, 1, 0, 0},      {5000, 1, 0, 0},        {0xFFFF, 1, 0, 0},
  };
  for (const Case& c : cases) {
    uint32_t max = 0, resp = 0;
    EXPECT_EQ(CheckControlCode(c.code, &max, &resp), c.result) << c.code;
    if (c.result == 0) {
      EXPECT_EQ(max, c.max) << c.code;
      EXPECT_EQ(resp, c.resp) << c.code;
    }
  }
  EXPECT_EQ(ReplySize(kCodeGetList), 2049u);
  EXPECT_EQ(ReplySize(kCodeMiscCommand), 129u);
  EXPECT_EQ(ReplySize(1), 2049u);  // an invalid code is answered with 2048 bytes too
}

TEST(TunvexProtocol, AckIsSixBytes) {
  uint8_t ack[kAckSize];
  EncodeAck(ack);
  EXPECT_EQ(std::vector<uint8_t>(ack, ack + 6), Bytes({1, 0, 1, 0, 0, 0}));
  EXPECT_TRUE(IsAck(ack, 6));
  ack[2] = 2;
  EXPECT_FALSE(IsAck(ack, 6));
  EXPECT_FALSE(IsAck(ack, 5));
}

TEST(TunvexProtocol, RequestFramesCarryHeaderPayloadAndTrailer) {
  EXPECT_EQ(EncodeGetList(0), Bytes({0xF6, 0x03, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(EncodeGetList(0x1234), Bytes({0xF6, 0x03, 0x02, 0, 0, 0, 0x34, 0x12, 0, 0, 0, 0}));
  EXPECT_EQ(EncodeMiscCommand(kMiscVersion), Bytes({0xFD, 0x03, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(EncodeMiscCommand(kMiscApply), Bytes({0xFD, 0x03, 0x01, 0, 0, 0, 1, 0, 0, 0, 0}));

  ParmRef refs[] = {{5, 0}, {7, 3}};
  size_t taken = 0;
  EXPECT_EQ(EncodeGetParms(refs, 2, &taken),
            Bytes({0xF7, 0x03, 0x0A, 0, 0, 0, 0x02, 0, 0x05, 0, 0, 0, 0x07, 0, 0x03, 0, 0, 0, 0, 0}));
  EXPECT_EQ(taken, 2u);

  ParmWrite w[] = {{5, 0, "1.5"}};
  EXPECT_EQ(EncodeSetParms(w, 1, &taken),
            Bytes({0xF8, 0x03, 0x0A, 0, 0, 0, 0x01, 0, 0x05, 0, 0, 0, 0x31, 0x2E, 0x35, 0, 0, 0, 0, 0}));
  EXPECT_EQ(taken, 1u);
}

TEST(TunvexProtocol, GetParmsFillsTheRequest) {
  std::vector<ParmRef> refs(500, ParmRef{1, 0});
  size_t taken = 0;
  std::vector<uint8_t> req = EncodeGetParms(refs.data(), refs.size(), &taken);
  // (1529 - 2) / 4 references fit in one request.
  EXPECT_EQ(taken, 381u);
  EXPECT_EQ(GetU32(req.data() + 2), 2u + 4u * 381u);
  EXPECT_EQ(req.size(), 6u + 2u + 4u * 381u + 4u);
}

// Whether a short answer is worth asking again from where it stopped.
TEST(TunvexProtocol, AShortAnswerIsFullOnlyWithoutRoomForTheLongestText) {
  auto answer = [](size_t entries, size_t textLength) {
    ParmsAnswer a;
    for (size_t i = 0; i < entries; ++i) a.values.push_back({1, uint16_t(i), std::string(textLength, '7')});
    return a;
  };
  struct Case {
    const char* name;
    ParmsAnswer a;
    bool full;
  } cases[] = {
      {"empty: the first element is unanswerable", answer(0, 0), false},
      {"a few short texts: stopped at a bad element", answer(10, 8), false},
      {"room for exactly one more longest text", answer(163, 7), false},  // 3 + 163 * 12 = 1959; 89 left
      {"less room than one more longest text", answer(170, 7), true},     // 2043; 5 left
      {"24 longest texts", answer(24, 79), true},                         // 2019; 29 left
  };
  for (const Case& k : cases) EXPECT_EQ(ParmsAnswerFull(k.a), k.full) << k.name;
}

TEST(TunvexProtocol, SetParmsSplitsAtTheRequestMaximum) {
  std::vector<ParmWrite> writes;
  for (int i = 0; i < 100; ++i) writes.push_back({uint16_t(i + 1), 0, std::string(40, '7')});
  size_t done = 0;
  int requests = 0;
  while (done < writes.size()) {
    size_t taken = 0;
    std::vector<uint8_t> req = EncodeSetParms(writes.data() + done, writes.size() - done, &taken);
    ASSERT_GT(taken, 0u);
    uint32_t len = GetU32(req.data() + 2);
    EXPECT_LE(len, kParmsRequestMax);
    EXPECT_EQ(req.size(), 6u + len + 4u);
    EXPECT_EQ(GetU16(req.data() + 6), taken);
    done += taken;
    ++requests;
  }
  EXPECT_EQ(requests, 4);  // 45 bytes per entry: 33 entries a request

  // A text with a NUL cannot travel; one too long for a request neither.
  ParmWrite bad[] = {{1, 0, std::string("1\0" "2", 3)}};
  size_t taken = 9;
  EXPECT_TRUE(EncodeSetParms(bad, 1, &taken).empty());
  EXPECT_EQ(taken, 0u);
  ParmWrite huge[] = {{1, 0, std::string(1600, '1')}};
  EXPECT_TRUE(EncodeSetParms(huge, 1, &taken).empty());
}

TEST(TunvexProtocol, DecodeListPage) {
  std::vector<uint8_t> r(2048, 0xEE);  // stale bytes after the entries
  r[0] = 1;
  PutU16(&r[1], 2);
  size_t at = 3;
  auto put = [&](uint16_t id, uint16_t count, uint32_t flags, const char* name) {
    PutU16(&r[at], id);
    PutU16(&r[at + 2], count);
    PutU32(&r[at + 4], flags);
    std::strcpy(reinterpret_cast<char*>(&r[at + 8]), name);
    at += 8 + std::strlen(name) + 1;
  };
  put(0, 1, 1, "3A");
  put(3, 1024, 0x40, "Gamma-Preview-BacklightGamma");
  ListPage page;
  ASSERT_TRUE(DecodeGetList(r.data(), r.size(), &page));
  EXPECT_TRUE(page.more);
  ASSERT_EQ(page.entries.size(), 2u);
  EXPECT_EQ(page.entries[0].name, "3A");
  EXPECT_EQ(page.entries[1].id, 3);
  EXPECT_EQ(page.entries[1].count, 1024);
  EXPECT_EQ(page.entries[1].flags, 0x40u);
  EXPECT_EQ(page.entries[1].name, "Gamma-Preview-BacklightGamma");

  // A count beyond the entries present, an unterminated name, a bad more byte.
  PutU16(&r[1], 3);
  EXPECT_FALSE(DecodeGetList(r.data(), at + 8, &page));
  PutU16(&r[1], 2);
  EXPECT_FALSE(DecodeGetList(r.data(), at - 1, &page));
  r[0] = 7;
  EXPECT_FALSE(DecodeGetList(r.data(), r.size(), &page));
  EXPECT_FALSE(DecodeGetList(r.data(), 2, &page));
}

TEST(TunvexProtocol, DecodeParmsAndSmallReplies) {
  std::vector<uint8_t> r(2048, 0);
  r[0] = 1;
  PutU16(&r[1], 1);
  PutU16(&r[3], 5);
  PutU16(&r[5], 2);
  std::strcpy(reinterpret_cast<char*>(&r[7]), "1.500000");
  ParmsAnswer a;
  ASSERT_TRUE(DecodeGetParms(r.data(), r.size(), &a));
  EXPECT_TRUE(a.changesPending);
  ASSERT_EQ(a.values.size(), 1u);
  EXPECT_EQ(a.values[0].id, 5);
  EXPECT_EQ(a.values[0].index, 2);
  EXPECT_EQ(a.values[0].text, "1.500000");

  // Texts are at most 79 characters.
  std::memset(&r[7], '9', 80);
  r[87] = 0;
  EXPECT_FALSE(DecodeGetParms(r.data(), r.size(), &a));

  bool pending = true;
  uint8_t s[128] = {0};
  EXPECT_TRUE(DecodePendingFlag(s, sizeof s, &pending));
  EXPECT_FALSE(pending);

  std::memcpy(s, "2.1.0", 6);
  std::string v;
  EXPECT_TRUE(DecodeVersion(s, sizeof s, &v));
  EXPECT_EQ(v, "2.1.0");
  std::memset(s, 'x', sizeof s);
  EXPECT_FALSE(DecodeVersion(s, sizeof s, &v));
}
