// The tuning server's tables and request handlers, without sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ctunvexcatalog.h"
#include "fakeregistry.h"
#include "tunvexprotocol.h"

using namespace tunvex;

namespace {

struct Reply {
  PvlResult result;
  std::vector<uint8_t> bytes;
};

Reply Call(CTunvexCatalog& c, uint16_t code, const std::vector<uint8_t>& payload, uint32_t respSize = kResponseSize) {
  Reply r{0, std::vector<uint8_t>(respSize, 0xCC)};
  r.result = c.Dispatch(code, payload.data(), uint32_t(payload.size()), r.bytes.data(), respSize);
  return r;
}

std::vector<uint8_t> U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }

std::vector<uint8_t> GetParmsPayload(std::initializer_list<std::pair<uint16_t, uint16_t>> refs, int n = -1) {
  std::vector<uint8_t> p = U16(uint16_t(n < 0 ? refs.size() : size_t(n)));
  for (auto [id, idx] : refs) {
    p.push_back(uint8_t(id)); p.push_back(uint8_t(id >> 8));
    p.push_back(uint8_t(idx)); p.push_back(uint8_t(idx >> 8));
  }
  return p;
}

std::vector<uint8_t> SetParmsPayload(std::initializer_list<std::tuple<uint16_t, uint16_t, const char*>> w) {
  std::vector<uint8_t> p = U16(uint16_t(w.size()));
  for (auto [id, idx, text] : w) {
    p.push_back(uint8_t(id)); p.push_back(uint8_t(id >> 8));
    p.push_back(uint8_t(idx)); p.push_back(uint8_t(idx >> 8));
    p.insert(p.end(), text, text + std::strlen(text) + 1);
  }
  return p;
}

ListPage List(CTunvexCatalog& c, uint16_t first) {
  Reply r = Call(c, kCodeGetList, U16(first));
  EXPECT_EQ(r.result, 0);
  ListPage page;
  EXPECT_TRUE(DecodeGetList(r.bytes.data(), r.bytes.size(), &page));
  return page;
}

ParmsAnswer Get(CTunvexCatalog& c, const std::vector<uint8_t>& payload, uint32_t respSize = kResponseSize) {
  Reply r = Call(c, kCodeGetParms, payload, respSize);
  EXPECT_EQ(r.result, 0);
  ParmsAnswer a;
  EXPECT_TRUE(DecodeGetParms(r.bytes.data(), r.bytes.size(), &a));
  return a;
}

// A "TuningData"-like group, a statistics group with summary items, and a
// few values of each kind.
struct Tables {
  uint16_t version = 0x0202;
  int32_t gains[4] = {1, 2, 3, 4};
  float luma = 0.5f;
  uint8_t hidden = 7;
  int32_t q10 = 1536;
  double exposure = 0.25;
  uint32_t lines = 33;
  int64_t wide = 5;
  FakeRegistry tuning;
  FakeRegistry aec;

  Tables() {
    tuning.Add("ColorCorr-Gains", gains, TUNING_TYPE_S32, 4);
    tuning.Add("Luma-Target", &luma, TUNING_TYPE_FLOAT, 1, 0x80);  // ignored for "TuningData"
    tuning.Add("Misc-VarnixVersion", &version, TUNING_TYPE_U16, 1, 0x01);
    aec.Add("AEC-Hidden", &hidden, TUNING_TYPE_U8, 1, 0x08);
    aec.Add("AEC-Gain", &q10, TUNING_TYPE_Q10, 1, 0x80);
    aec.Add("AEC-Exposure", &exposure, TUNING_TYPE_DOUBLE, 1, 0x80 | 0x20);
    aec.Add("AEC-Lines", &lines, TUNING_TYPE_U32, 1, 0x20);
    aec.Add("AEC-Wide", &wide, TUNING_TYPE_S64, 1);
  }
};

}  // namespace

TEST(TunvexCatalog, FreshServerHasOnlyTheSummaryItem) {
  CTunvexCatalog c;
  EXPECT_EQ(c.GroupCount(), 1);
  EXPECT_EQ(c.TotalItems(), 1);
  char text[80] = "x";
  EXPECT_EQ(c.Format3A(text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  ListPage page = List(c, 0);
  EXPECT_FALSE(page.more);
  ASSERT_EQ(page.entries.size(), 1u);
  EXPECT_EQ(page.entries[0].id, 0);
  EXPECT_EQ(page.entries[0].count, 1);
  EXPECT_EQ(page.entries[0].flags, 1u);
  EXPECT_EQ(page.entries[0].name, "3A");
}

TEST(TunvexCatalog, IdsRunAcrossGroupsInRegistrationOrder) {
  std::vector<uint8_t> block(986);
  FakeRegistry tuning, empty, vfe;
  for (int i = 0; i < 986; ++i) tuning.Add(("Key-" + std::to_string(i)).c_str(), &block[i], TUNING_TYPE_U8, 1);
  uint8_t v[3] = {};
  for (int i = 0; i < 3; ++i) vfe.Add(("VFE-" + std::to_string(i)).c_str(), &v[i], TUNING_TYPE_U8, 1);

  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&tuning, "TuningData"), 0);
  ASSERT_EQ(c.Register(&empty, "Empty"), 0);  // takes no Id
  ASSERT_EQ(c.Register(&vfe, "VFE"), 0);
  EXPECT_EQ(c.TotalItems(), 990);
  struct Case {
    uint16_t id;
    PvlResult result;
    uint16_t group, item;
  } cases[] = {{0, 0, 0, 0}, {1, 0, 1, 0}, {986, 0, 1, 985}, {987, 0, 3, 0}, {989, 0, 3, 2}, {990, 1, 0, 0},
               {0xFFFF, 1, 0, 0}};
  for (const Case& k : cases) {
    uint16_t g = 0, i = 0;
    EXPECT_EQ(c.FindItem(k.id, &g, &i), k.result) << k.id;
    if (k.result == 0) {
      EXPECT_EQ(g, k.group) << k.id;
      EXPECT_EQ(i, k.item) << k.id;
    }
  }
}

TEST(TunvexCatalog, RegisterRefusesBadArgumentsAndTooManyItems) {
  CTunvexCatalog c;
  FakeRegistry r;
  EXPECT_EQ(c.Register(nullptr, "X"), PVL_E_BADARG);
  EXPECT_EQ(c.Register(&r, nullptr), PVL_E_BADARG);
  r.failNumItems = 13;
  EXPECT_EQ(c.Register(&r, "X"), 13);
  EXPECT_EQ(c.GroupCount(), 1);

  // Ids are 16 bits: the groups together hold at most 65535 items.
  FakeRegistry big;
  uint8_t v = 0;
  big.items.resize(40000);
  for (auto& it : big.items) {
    it.value = &v;
    it.type = TUNING_TYPE_U8;
    it.count = 1;
    it.toText = DefaultValueToText;
    it.fromText = DefaultTextToValue;
  }
  EXPECT_EQ(c.Register(&big, "Big1"), 0);
  EXPECT_EQ(c.Register(&big, "Big2"), PVL_E_BADARG);
  EXPECT_EQ(c.TotalItems(), 40001);
}

TEST(TunvexCatalog, SummaryItemsComeOnlyFromOtherGroupsThanTuningData) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  char text[80];
  ASSERT_EQ(c.Format3A(text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  ASSERT_EQ(c.Register(&t.aec, "AEC"), 0);
  ASSERT_EQ(c.Format3A(text, sizeof text), 0);
  EXPECT_STREQ(text, "AEC-Gain:1.500000, AEC-Expos:0.250000");  // names cut to 9 characters
}

TEST(TunvexCatalog, Format3AStaysInsideItsBuffer) {
  double big[6] = {1e300, 1e300, 1e300, 1e300, 1e300, 1e300};
  FakeRegistry r;
  for (int i = 0; i < 6; ++i) r.Add(("Big-" + std::to_string(i)).c_str(), &big[i], TUNING_TYPE_DOUBLE, 1, 0x80);
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&r, "AEC"), 0);
  for (uint32_t size : {1u, 2u, 7u, 8u, 9u, 80u}) {
    std::vector<char> buf(size + 64, '#');
    EXPECT_EQ(c.Format3A(buf.data(), size), 0) << size;
    EXPECT_LT(std::strlen(buf.data()), size) << size;
    for (size_t i = size; i < buf.size(); ++i) ASSERT_EQ(buf[i], '#') << size << " byte " << i;
  }
  char text[80];
  c.Format3A(text, sizeof text);
  EXPECT_EQ(std::string(text).substr(0, 7), "Big-0:1");
  EXPECT_EQ(std::strlen(text), 79u);
}

TEST(TunvexCatalog, Format3AMarksAnUnreadableValueAndStops) {
  int64_t wide = 1;
  int32_t after = 2;
  FakeRegistry r;
  r.Add("Wide", &wide, TUNING_TYPE_S64, 1, 0x80);
  r.Add("After", &after, TUNING_TYPE_S32, 1, 0x80);
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&r, "AF"), 0);
  char text[80];
  EXPECT_EQ(c.Format3A(text, sizeof text), TUNING_RESULT_NO_TEXT);
  EXPECT_STREQ(text, "Wide:<err>");
}

TEST(TunvexCatalog, ListSkipsHiddenAndSummaryItemsAndMarksTuningData) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  ASSERT_EQ(c.Register(&t.aec, "AEC"), 0);
  ListPage page = List(c, 0);
  EXPECT_FALSE(page.more);
  std::vector<std::tuple<uint16_t, uint16_t, uint32_t, std::string>> got;
  for (auto& e : page.entries) got.emplace_back(e.id, e.count, e.flags, e.name);
  std::vector<std::tuple<uint16_t, uint16_t, uint32_t, std::string>> want = {
      {0, 1, 0x01, "3A"},
      {1, 4, 0x40, "ColorCorr-Gains"},
      {2, 1, 0xC0, "Luma-Target"},  // "TuningData" items are listed whatever their flags but 0x08
      {3, 1, 0x41, "Misc-VarnixVersion"},
      {7, 1, 0x20, "AEC-Lines"},
      {8, 1, 0x00, "AEC-Wide"},
  };
  // Luma-Target carries 0x80 and is therefore not listed either.
  want.erase(want.begin() + 2);
  EXPECT_EQ(got, want);

  page = List(c, 9);
  EXPECT_FALSE(page.more);
  EXPECT_TRUE(page.entries.empty());
  page = List(c, 5);  // starts inside a group
  ASSERT_EQ(page.entries.size(), 2u);
  EXPECT_EQ(page.entries[0].id, 7);

  // A request without its first Id.
  Reply r = Call(c, kCodeGetList, {});
  EXPECT_EQ(r.result, PVL_E_BUFFERTOOSMALL);
}

TEST(TunvexCatalog, ListPagesCoverEveryItemOnce) {
  std::vector<uint32_t> values(700);
  FakeRegistry r;
  for (size_t i = 0; i < values.size(); ++i)
    r.Add(("A-Rather-Long-Tuning-Key-Name-" + std::to_string(i)).c_str(), &values[i], TUNING_TYPE_U32, 1,
          i % 7 == 3 ? 0x08 : 0);
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&r, "TuningData"), 0);
  std::vector<uint16_t> ids;
  uint16_t next = 0;
  int pages = 0;
  for (;;) {
    ListPage page = List(c, next);
    ++pages;
    for (auto& e : page.entries) ids.push_back(e.id);
    if (!page.more) break;
    ASSERT_FALSE(page.entries.empty());
    next = uint16_t(page.entries.back().id + 1);
  }
  EXPECT_GT(pages, 1);
  std::vector<uint16_t> want{0};
  for (uint16_t i = 0; i < 700; ++i)
    if (i % 7 != 3) want.push_back(uint16_t(i + 1));
  EXPECT_EQ(ids, want);
}

TEST(TunvexCatalog, GetParmsAnswersUntilTheFirstEntryItCannotAnswer) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  ASSERT_EQ(c.Register(&t.aec, "AEC"), 0);

  ParmsAnswer a = Get(c, GetParmsPayload({{1, 3}, {0, 0}, {3, 0}, {5, 0}}));
  EXPECT_FALSE(a.changesPending);
  ASSERT_EQ(a.values.size(), 4u);
  EXPECT_EQ(a.values[0].text, "4");
  EXPECT_EQ(a.values[1].text, "AEC-Gain:1.500000, AEC-Expos:0.250000");
  EXPECT_EQ(a.values[2].text, "514");
  EXPECT_EQ(a.values[3].text, "1.500000");

  struct Case {
    const char* what;
    std::vector<uint8_t> payload;
    size_t answered;
  } cases[] = {
      {"index equal to the count", GetParmsPayload({{1, 0}, {1, 4}, {1, 1}}), 1},
      {"summary item has one element", GetParmsPayload({{0, 1}}), 0},
      {"unknown Id", GetParmsPayload({{1, 0}, {9, 0}}), 1},
      {"value without text", GetParmsPayload({{8, 0}, {1, 0}}), 0},
      {"more entries announced than sent", GetParmsPayload({{1, 0}, {1, 1}}, 40), 2},
      {"count only", U16(3), 0},
  };
  for (const Case& k : cases) {
    a = Get(c, k.payload);
    EXPECT_EQ(a.values.size(), k.answered) << k.what;
  }

  t.tuning.failInfo = 0;
  EXPECT_EQ(Get(c, GetParmsPayload({{1, 0}})).values.size(), 0u);
}

TEST(TunvexCatalog, GetParmsStopsWhenTheResponseIsFull) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  // 3 + (4 + 2) + (4 + 2) fits into 15 bytes; the third answer does not.
  ParmsAnswer a = Get(c, GetParmsPayload({{1, 0}, {1, 1}, {1, 2}}), 15);
  EXPECT_EQ(a.values.size(), 2u);
  Reply r = Call(c, kCodeGetParms, GetParmsPayload({{1, 0}}), 2);
  EXPECT_EQ(r.result, PVL_E_BUFFERTOOSMALL);
  r = Call(c, kCodeGetParms, {1});
  EXPECT_EQ(r.result, PVL_E_BUFFERTOOSMALL);
}

TEST(TunvexCatalog, SetParmsWritesAndReportsChangesPending) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  ASSERT_EQ(c.Register(&t.aec, "AEC"), 0);

  // A failed write (64-bit item) does not stop the rest.
  Reply r = Call(c, kCodeSetParms, SetParmsPayload({{1, 2, "-30"}, {8, 0, "3"}, {5, 0, "0.75"}}));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.bytes[0], 1);
  EXPECT_EQ(t.gains[2], -30);
  EXPECT_EQ(t.q10, 768);
  EXPECT_TRUE(c.ChangesPending());
  EXPECT_TRUE(Get(c, GetParmsPayload({{1, 0}})).changesPending);

  // Processing stops at the summary item, an unknown Id, an index past the count.
  struct Case {
    const char* what;
    std::vector<uint8_t> payload;
  } stops[] = {
      {"summary item", SetParmsPayload({{0, 0, "1"}, {1, 0, "11"}})},
      {"unknown Id", SetParmsPayload({{77, 0, "1"}, {1, 0, "11"}})},
      {"index past the count", SetParmsPayload({{1, 4, "1"}, {1, 0, "11"}})},
  };
  for (const Case& k : stops) {
    r = Call(c, kCodeSetParms, k.payload);
    EXPECT_EQ(r.result, 0) << k.what;
    EXPECT_EQ(r.bytes[0], 1) << k.what;
    EXPECT_EQ(t.gains[0], 1) << k.what;
  }

  // A text that does not end inside the request is not written.
  std::vector<uint8_t> p = SetParmsPayload({{1, 0, "11"}});
  p.pop_back();
  r = Call(c, kCodeSetParms, p);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(t.gains[0], 1);
  EXPECT_EQ(Call(c, kCodeSetParms, {1}).result, PVL_E_BUFFERTOOSMALL);
}

namespace {
struct ApplyProbe {
  PvlResult answer = 0;
  int calls = 0;
  static PvlResult Run(void* ctx) {
    auto* p = static_cast<ApplyProbe*>(ctx);
    ++p->calls;
    return p->answer;
  }
};
}  // namespace

TEST(TunvexCatalog, MiscCommandVersionAndApply) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);

  Reply r = Call(c, kCodeMiscCommand, {0}, kMiscResponseSize);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(std::memcmp(r.bytes.data(), "2.1.0", 6), 0);
  EXPECT_EQ(Call(c, kCodeMiscCommand, {2}, kMiscResponseSize).result, PVL_E_BADARG);
  uint8_t none[1] = {0};
  EXPECT_EQ(c.MiscCommand(none, 0, r.bytes.data(), kMiscResponseSize), PVL_E_BUFFERTOOSMALL);
  EXPECT_EQ(c.MiscCommand(nullptr, 1, r.bytes.data(), kMiscResponseSize), PVL_E_BADARG);
  EXPECT_EQ(Call(c, kCodeMiscCommand, {0}, 5).result, PVL_E_BUFFERTOOSMALL);

  ASSERT_EQ(Call(c, kCodeSetParms, SetParmsPayload({{1, 0, "5"}})).bytes[0], 1);
  // Without an engine the changes stay pending; the answer is still a success.
  r = Call(c, kCodeMiscCommand, {1}, kMiscResponseSize);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.bytes[0], 1);

  ApplyProbe probe;
  c.SetApply(&ApplyProbe::Run, &probe);
  probe.answer = 1;
  r = Call(c, kCodeMiscCommand, {1}, kMiscResponseSize);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.bytes[0], 1);
  probe.answer = 0;
  r = Call(c, kCodeMiscCommand, {1}, kMiscResponseSize);
  EXPECT_EQ(r.bytes[0], 0);
  EXPECT_EQ(probe.calls, 2);
  EXPECT_FALSE(Get(c, GetParmsPayload({{1, 0}})).changesPending);

  EXPECT_EQ(Call(c, 1020, GetParmsPayload({{1, 0}})).result, PVL_E_NOTREPRESENTABLE);
}

TEST(TunvexCatalog, JpegTextListsEveryValueOnce) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  ASSERT_EQ(c.Register(&t.aec, "AEC"), 0);
  uint32_t needed = 0, written = 77;
  ASSERT_EQ(c.SendDataToJPEG(nullptr, 0, &needed, &written), 0);
  EXPECT_EQ(written, 0u);
  std::vector<char> buf(needed, '#');
  ASSERT_EQ(c.SendDataToJPEG(buf.data(), needed, nullptr, &written), 0);
  const std::string want =
      "3A=AEC-Gain:1.500000, AEC-Expos:0.250000\n"
      "ColorCorr-Gains=1,2,3,4\n"
      "Misc-VarnixVersion=514\n"
      "AEC-Hidden=7\n"
      "AEC-Wide=<err>\n";
  EXPECT_EQ(std::string(buf.data()), want);
  EXPECT_EQ(written, want.size());
  EXPECT_GE(needed, want.size() + 1);
}

// The size asked for holds the whole text also when later elements have
// longer texts than the first, or cannot be read at all.
namespace {
int32_t FirstElementOnly(const RuntimeTuningItem* item, uint16_t element, char* text, uint32_t size,
                         uint32_t* length) {
  if (element > 0) return TUNING_RESULT_NO_TEXT;
  return DefaultValueToText(item, element, text, size, length);
}
}  // namespace

TEST(TunvexCatalog, JpegTextFitsTheSizeItAskedFor) {
  int32_t lines[6] = {0, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
  uint16_t none = 0;
  FakeRegistry r;
  r.Add("L", lines, TUNING_TYPE_S32, 6);
  r.Add("E", &none, TUNING_TYPE_U16, 0);
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&r, "TuningData"), 0);
  uint32_t needed = 0;
  ASSERT_EQ(c.SendDataToJPEG(nullptr, 0, &needed, nullptr), 0);
  std::vector<char> buf(needed, '#');
  uint32_t written = 0;
  ASSERT_EQ(c.SendDataToJPEG(buf.data(), needed, nullptr, &written), 0);
  const std::string want = "3A=\nL=0,-2147483648,-2147483648,-2147483648,-2147483648,-2147483648\nE=\n";
  EXPECT_EQ(std::string(buf.data()), want);
  EXPECT_EQ(written, want.size());

  // Elements past the first that cannot be read are written as <err>.
  FakeRegistry odd;
  for (int i = 0; i < 20; ++i) {
    odd.Add(("W" + std::to_string(i)).c_str(), lines, TUNING_TYPE_S32, 40);
    odd.items.back().toText = FirstElementOnly;
  }
  CTunvexCatalog c2;
  ASSERT_EQ(c2.Register(&odd, "TuningData"), 0);
  ASSERT_EQ(c2.SendDataToJPEG(nullptr, 0, &needed, nullptr), 0);
  buf.assign(needed, '#');
  ASSERT_EQ(c2.SendDataToJPEG(buf.data(), needed, nullptr, &written), 0);
  std::string line = "=0";
  for (int e = 1; e < 40; ++e) line += ",<err>";
  EXPECT_EQ(written, 4 + 20 * (line.size() + 1) + 10 * 2 + 10 * 3);  // "3A=\n", names W0..W19
  EXPECT_EQ(std::string(buf.data()).substr(std::string(buf.data()).size() - line.size() - 4), "W19" + line + "\n");
}

TEST(TunvexCatalog, JpegTextStopsAtTheEndOfTheBuffer) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  for (uint32_t size : {1u, 2u, 10u, 30u, 45u}) {
    std::vector<char> buf(size + 32, '#');
    uint32_t written = 99;
    ASSERT_EQ(c.SendDataToJPEG(buf.data(), size, nullptr, &written), 0);
    EXPECT_EQ(written, size - 1) << size;
    EXPECT_EQ(std::strlen(buf.data()), written) << size;
    for (size_t i = size; i < buf.size(); ++i) ASSERT_EQ(buf[i], '#') << size;
  }
}

TEST(TunvexCatalog, UnregisterWithdrawsAGroupAndItsSummaryItems) {
  Tables t;
  CTunvexCatalog c;
  FakeRegistry vfe;
  uint8_t v = 3;
  vfe.Add("VFE-One", &v, TUNING_TYPE_U8, 1);
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  ASSERT_EQ(c.Register(&t.aec, "AEC"), 0);
  ASSERT_EQ(c.Register(&vfe, "VFE"), 0);
  EXPECT_EQ(c.TotalItems(), 10);

  EXPECT_EQ(c.Unregister(&t.aec), 0);
  EXPECT_EQ(c.TotalItems(), 5);
  char text[80];
  c.Format3A(text, sizeof text);
  EXPECT_STREQ(text, "");
  uint16_t g = 0, i = 0;
  ASSERT_EQ(c.FindItem(4, &g, &i), 0);  // the later group moves up
  EXPECT_EQ(g, 2);
  EXPECT_EQ(c.Unregister(&t.aec), PVL_E_BADARG);
  EXPECT_EQ(c.Unregister(nullptr), PVL_E_BADARG);

  // A registrant that registers again after re-initialising gets one group.
  ASSERT_EQ(c.Unregister(&vfe), 0);
  ASSERT_EQ(c.Register(&vfe, "VFE"), 0);
  EXPECT_EQ(c.GroupCount(), 3);
}

// Registrants come and go while the protocol thread and the capture thread
// read: once Unregister returns, the registry is never called again.
TEST(TunvexCatalog, UnregisterIsSafeAgainstConcurrentReaders) {
  Tables t;
  CTunvexCatalog c;
  ASSERT_EQ(c.Register(&t.tuning, "TuningData"), 0);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::vector<uint8_t> resp(kResponseSize);
    std::vector<char> text(4096);
    while (!stop.load()) {
      uint8_t req[2] = {0, 0};
      c.GetList(req, 2, resp.data(), uint32_t(resp.size()));
      std::vector<uint8_t> p = GetParmsPayload({{0, 0}, {4, 0}, {5, 0}});
      c.GetParms(p.data(), uint32_t(p.size()), resp.data(), uint32_t(resp.size()));
      c.SendDataToJPEG(text.data(), uint32_t(text.size()), nullptr, nullptr);
    }
  });
  for (int round = 0; round < 300; ++round) {
    auto owner = std::make_unique<Tables>();
    ASSERT_EQ(c.Register(&owner->aec, "AEC"), 0);
    std::this_thread::yield();
    ASSERT_EQ(c.Unregister(&owner->aec), 0);
    owner.reset();  // the registry dies right after it was withdrawn
  }
  stop = true;
  reader.join();
}
