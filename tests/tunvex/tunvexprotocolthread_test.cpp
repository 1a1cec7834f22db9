// The tuning server's protocol thread on a loopback socket: the tool's
// conversation, and clients that break the rules.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cfixedpoint.h"
#include "ctunvexcatalog.h"
#include "ctunvexprotocolthread.h"
#include "fakeregistry.h"
#include "tunvexclient.h"
#include "tunvexprotocol.h"
#include "tunvextestnet.h"

using namespace tunvex;

namespace {

struct Values {
  int8_t s8 = -5;
  uint8_t u8 = 200;
  int16_t s16 = -300;
  uint16_t u16 = 60000;
  int32_t s32 = -70000;
  uint32_t u32 = 4000000000u;
  int64_t s64 = 1;
  uint64_t u64 = 2;
  float f32 = 0.5f;
  double f64 = 2.25;
  CFixedPoint fixed{10u, 1.5};
  int32_t q10 = 1536;
  uint16_t table[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint32_t many[300] = {};
  float gain = 1.25f;
};

struct ApplyProbe {
  std::atomic<int> calls{0};
  std::atomic<PvlResult> answer{0};
  static PvlResult Run(void* ctx) {
    auto* p = static_cast<ApplyProbe*>(ctx);
    ++p->calls;
    return p->answer.load();
  }
};

class ProtocolThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TUNVEX_PORT", "0", 1);  // any free port
    tuning.Add("T-S8", &v.s8, TUNING_TYPE_S8, 1);
    tuning.Add("T-U8", &v.u8, TUNING_TYPE_U8, 1);
    tuning.Add("T-S16", &v.s16, TUNING_TYPE_S16, 1);
    tuning.Add("T-U16", &v.u16, TUNING_TYPE_U16, 1);
    tuning.Add("T-S32", &v.s32, TUNING_TYPE_S32, 1);
    tuning.Add("T-U32", &v.u32, TUNING_TYPE_U32, 1);
    tuning.Add("T-S64", &v.s64, TUNING_TYPE_S64, 1);
    tuning.Add("T-U64", &v.u64, TUNING_TYPE_U64, 1);
    tuning.Add("T-Float", &v.f32, TUNING_TYPE_FLOAT, 1);
    tuning.Add("T-Double", &v.f64, TUNING_TYPE_DOUBLE, 1);
    tuning.Add("T-Fixed", &v.fixed, TUNING_TYPE_FIXED, 1);
    tuning.Add("T-Q10", &v.q10, TUNING_TYPE_Q10, 1);
    tuning.Add("T-Table", v.table, TUNING_TYPE_U16, 8);
    tuning.Add("T-Hidden", &v.u8, TUNING_TYPE_U8, 1, 0x08);
    for (int i = 0; i < 300; ++i)
      tuning.Add(("T-A-Long-Name-To-Fill-Pages-" + std::to_string(i)).c_str(), &v.many[i], TUNING_TYPE_U32, 1);
    aec.Add("AEC-Gain", &v.gain, TUNING_TYPE_FLOAT, 1, 0x80);
    aec.Add("AEC-Info", &v.u16, TUNING_TYPE_U16, 1, 0x01);
    ASSERT_EQ(catalog.Register(&tuning, "TuningData"), 0);
    ASSERT_EQ(catalog.Register(&aec, "AEC"), 0);
    catalog.SetApply(&ApplyProbe::Run, &apply);
    Start();
  }
  void TearDown() override {
    if (thread) thread->EndProtocolThread();
  }
  void Start() {
    thread = std::make_unique<CTunvexProtocolThread>(&catalog);
    thread->SetRequestDeadline(1500);
    ASSERT_EQ(thread->CreateProtocolThread(), 0);
    ASSERT_TRUE(thread->WaitListening(30000));
    port = thread->Port();
    ASSERT_NE(port, 0);
  }
  // A fresh, well-behaved tool is served.
  void ExpectServed() {
    TunvexClient c;
    c.SetTimeout(30000);
    ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
    std::string version;
    ASSERT_TRUE(c.Version(&version)) << c.Error();
    EXPECT_EQ(version, "2.1.0");
  }
  uint16_t IdOf(TunvexClient& c, const std::string& name) {
    if (items.empty()) {
      EXPECT_TRUE(c.ListAll(&items)) << c.Error();
    }
    for (auto& e : items)
      if (e.name == name) return e.id;
    ADD_FAILURE() << "no item " << name;
    return 0;
  }

  Values v;
  FakeRegistry tuning;
  FakeRegistry aec;
  CTunvexCatalog catalog;
  ApplyProbe apply;
  std::unique_ptr<CTunvexProtocolThread> thread;
  uint16_t port = 0;
  std::vector<ListEntry> items;
};

std::vector<uint8_t> Header(uint16_t code, uint32_t length) {
  std::vector<uint8_t> h(6);
  PutU16(h.data(), code);
  PutU32(h.data() + 2, length);
  return h;
}

}  // namespace

TEST_F(ProtocolThreadTest, AcknowledgesEveryConnection) {
  for (int i = 0; i < 2; ++i) {
    RawConnection raw;
    ASSERT_TRUE(raw.Connect(port));
    std::vector<uint8_t> ack;
    ASSERT_TRUE(raw.Receive(6, &ack));
    EXPECT_EQ(ack, (std::vector<uint8_t>{1, 0, 1, 0, 0, 0}));
  }
}

TEST_F(ProtocolThreadTest, ListsEveryGroupPageByPage) {
  RawConnection raw;
  ASSERT_TRUE(raw.Connect(port));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(raw.Receive(6, &bytes));
  ASSERT_TRUE(raw.Send(EncodeGetList(0)));
  ASSERT_TRUE(raw.Receive(1 + kResponseSize, &bytes));
  EXPECT_EQ(bytes[0], 1);
  // Success, more, N (2 bytes), then Id 0, count 1, flags 1, "3A" and Id 1,
  // count 1, flags 0x40, "T-S8".
  EXPECT_EQ(bytes[1], 1);
  EXPECT_GT(GetU16(bytes.data() + 2), 2);
  const std::vector<uint8_t> entries = {0, 0, 1, 0, 1, 0, 0, 0, '3', 'A', 0,
                                        1, 0, 1, 0, 0x40, 0, 0, 0, 'T', '-', 'S', '8', 0};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 4 + ptrdiff_t(entries.size())), entries);
  ListPage first;
  ASSERT_TRUE(DecodeGetList(bytes.data() + 1, kResponseSize, &first));
  EXPECT_TRUE(first.more);  // 300 long names do not fit one response
  ASSERT_FALSE(first.entries.empty());
  EXPECT_EQ(first.entries[0].name, "3A");
  EXPECT_EQ(first.entries[0].flags, 1u);

  raw.Close();
  TunvexClient c;
  ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
  std::vector<ListEntry> items;
  ASSERT_TRUE(c.ListAll(&items)) << c.Error();
  // 3A, 13 typed items, (hidden skipped), 300 fillers, AEC-Info (the summary item is not listed).
  ASSERT_EQ(items.size(), 1u + 13u + 300u + 1u);
  EXPECT_EQ(items[1].name, "T-S8");
  EXPECT_EQ(items[1].id, 1);
  EXPECT_EQ(items[1].flags, 0x40u);
  EXPECT_EQ(items[13].name, "T-Table");
  EXPECT_EQ(items[13].count, 8);
  EXPECT_EQ(items[14].id, 15);  // Id 14 (hidden) is skipped
  EXPECT_EQ(items.back().name, "AEC-Info");
  EXPECT_EQ(items.back().id, 316);
  EXPECT_EQ(items.back().flags, 0x01u);
}

TEST_F(ProtocolThreadTest, ReadsAndWritesEveryTypeAsText) {
  TunvexClient c;
  ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
  struct Case {
    const char* name;
    const char* before;
    const char* write;
    const char* after;  // null: no text form
  } cases[] = {
      {"T-S8", "-5", "-128", "-128"},
      {"T-U8", "200", "300", "44"},
      {"T-S16", "-300", "12345", "12345"},
      {"T-U16", "60000", "65535", "65535"},
      {"T-S32", "-70000", "-2147483648", "-2147483648"},
      {"T-U32", "4000000000", "7", "7"},
      {"T-S64", nullptr, "3", nullptr},
      {"T-U64", nullptr, "3", nullptr},
      {"T-Float", "0.500000", "0.1", "0.100000"},
      {"T-Double", "2.250000", "-1e3", "-1000.000000"},
      {"T-Fixed", "1.500000", "2.75", "2.750000"},
      {"T-Q10", "1.500000", "-0.25", "-0.250000"},
  };
  for (const Case& k : cases) {
    uint16_t id = IdOf(c, k.name);
    std::vector<std::optional<std::string>> texts;
    ASSERT_TRUE(c.Get({{id, 0}}, &texts, nullptr)) << c.Error();
    if (k.before) {
      ASSERT_TRUE(texts[0].has_value()) << k.name;
      EXPECT_EQ(*texts[0], k.before) << k.name;
    } else {
      EXPECT_FALSE(texts[0].has_value()) << k.name;
    }
    ASSERT_TRUE(c.Set({{id, 0, k.write}}, nullptr)) << c.Error();
    ASSERT_TRUE(c.Get({{id, 0}}, &texts, nullptr)) << c.Error();
    if (k.after) {
      ASSERT_TRUE(texts[0].has_value()) << k.name;
      EXPECT_EQ(*texts[0], k.after) << k.name;
    } else {
      EXPECT_FALSE(texts[0].has_value()) << k.name;
    }
  }
  EXPECT_EQ(v.s64, 1);
  EXPECT_EQ(v.u64, 2u);
  EXPECT_EQ(v.q10, -256);
  EXPECT_EQ(v.fixed.GetRawValue(), 2816);  // 2.75 at its own Q 10

  // The summary item reads and cannot be written.
  std::vector<std::optional<std::string>> texts;
  ASSERT_TRUE(c.Get({{0, 0}}, &texts, nullptr));
  EXPECT_EQ(texts[0].value_or("?"), "AEC-Gain:1.250000");
}

TEST_F(ProtocolThreadTest, ChangesStayPendingUntilTheEngineApplies) {
  TunvexClient c;
  ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
  uint16_t id = IdOf(c, "T-Table");
  bool pending = true;
  std::vector<std::optional<std::string>> texts;
  ASSERT_TRUE(c.Get({{id, 0}}, &texts, &pending));
  EXPECT_FALSE(pending);
  ASSERT_TRUE(c.Set({{id, 7, "99"}}, &pending));
  EXPECT_TRUE(pending);
  EXPECT_EQ(v.table[7], 99);

  apply.answer = 5;  // the engine refuses: still a success on the wire, still pending
  ASSERT_TRUE(c.Apply(&pending)) << c.Error();
  EXPECT_TRUE(pending);
  apply.answer = 0;
  ASSERT_TRUE(c.Apply(&pending)) << c.Error();
  EXPECT_FALSE(pending);
  EXPECT_EQ(apply.calls.load(), 2);
  ASSERT_TRUE(c.Get({{id, 7}}, &texts, &pending));
  EXPECT_FALSE(pending);
}

TEST_F(ProtocolThreadTest, PartialAnswersStopAtTheFirstBadEntry) {
  RawConnection raw;
  ASSERT_TRUE(raw.Connect(port));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(raw.Receive(6, &bytes));
  uint16_t table = 13;
  ParmRef refs[] = {{table, 0}, {table, 8}, {table, 1}};
  ASSERT_TRUE(raw.Send(EncodeGetParms(refs, 3, nullptr)));
  ASSERT_TRUE(raw.Receive(1 + kResponseSize, &bytes));
  EXPECT_EQ(bytes[0], 1);
  // Success, nothing pending, A = 1, then Id 13, element 0, "1".
  const std::vector<uint8_t> head = {1, 0, 1, 0, 13, 0, 0, 0, '1', 0};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(head.size())), head);
  ParmsAnswer a;
  ASSERT_TRUE(DecodeGetParms(bytes.data() + 1, kResponseSize, &a));
  ASSERT_EQ(a.values.size(), 1u);
  EXPECT_EQ(a.values[0].text, "1");

  // The client asks again past the element it could not get.
  raw.Close();
  TunvexClient c;
  ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
  std::vector<std::optional<std::string>> texts;
  ASSERT_TRUE(c.Get({refs[0], refs[1], refs[2]}, &texts, nullptr));
  EXPECT_EQ(texts[0].value_or("?"), "1");
  EXPECT_FALSE(texts[1].has_value());
  EXPECT_EQ(texts[2].value_or("?"), "2");
}

// An answer cut short because the block is full is asked for again from
// where it stopped: nothing is lost, nothing skipped.
TEST_F(ProtocolThreadTest, ReadsMoreValuesThanOneResponseHolds) {
  TunvexClient c;
  ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
  const uint16_t id = IdOf(c, "T-Double");
  std::vector<ParmRef> refs(381, ParmRef{id, 0});  // 13 bytes each: 157 fit a block
  refs.push_back({13, 8});                          // T-Table has no element 8
  refs.push_back({13, 7});
  std::vector<std::optional<std::string>> texts;
  ASSERT_TRUE(c.Get(refs, &texts, nullptr)) << c.Error();
  ASSERT_EQ(texts.size(), refs.size());
  for (size_t i = 0; i < 381; ++i) ASSERT_EQ(texts[i].value_or("?"), "2.250000") << "element " << i;
  EXPECT_FALSE(texts[381].has_value());
  EXPECT_EQ(texts[382].value_or("?"), "8");
}

TEST_F(ProtocolThreadTest, FindsOneItemWithoutListingThemAll) {
  TunvexClient c;
  ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
  struct Case {
    const char* name;
    std::string byName;  // empty: by Id
    uint16_t byId;
    const char* found;   // null: not listed
  } cases[] = {
      {"the summary text by Id", "", 0, "3A"},
      {"an item by Id", "", 13, "T-Table"},
      {"a hidden item by Id", "", 14, nullptr},
      {"the summary item by Id", "", 315, nullptr},
      {"an Id beyond the last item", "", 317, nullptr},
      {"an item by name", "T-Q10", 0, "T-Q10"},
      {"an item on the last page by name", "AEC-Info", 0, "AEC-Info"},
      {"a hidden item by name", "T-Hidden", 0, nullptr},
      {"an unknown name", "T-Nope", 0, nullptr},
  };
  for (const Case& k : cases) {
    std::optional<ListEntry> item;
    bool ok = k.byName.empty() ? c.FindById(k.byId, &item) : c.FindByName(k.byName, &item);
    ASSERT_TRUE(ok) << k.name << ": " << c.Error();
    if (k.found) {
      ASSERT_TRUE(item.has_value()) << k.name;
      EXPECT_EQ(item->name, k.found) << k.name;
    } else {
      EXPECT_FALSE(item.has_value()) << k.name;
    }
  }
}

TEST_F(ProtocolThreadTest, UnknownCodesAreAnsweredWithFailure) {
  RawConnection raw;
  ASSERT_TRUE(raw.Connect(port));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(raw.Receive(6, &bytes));
  struct Case {
    const char* what;
    std::vector<uint8_t> request;
    uint32_t replySize;
  } cases[] = {
      {"invalid code 1, no payload", Header(1, 0), 2048},
      {"invalid code 5000, no payload", Header(5000, 0), 2048},
      {"invalid code 0", Header(0, 77), 2048},
      {"unrecognised code 1020 reads its payload", EncodeRequest(1020, (const uint8_t*)"\x01\x00\x01\x00\x00\x00", 6),
       2048},
      {"unknown sub-command", EncodeMiscCommand(2), 128},
  };
  for (const Case& k : cases) {
    ASSERT_TRUE(raw.Send(k.request)) << k.what;
    ASSERT_TRUE(raw.Receive(1 + k.replySize, &bytes)) << k.what;
    EXPECT_EQ(bytes[0], 0) << k.what;
    // The connection goes on.
    ASSERT_TRUE(raw.Send(EncodeMiscCommand(kMiscVersion))) << k.what;
    ASSERT_TRUE(raw.Receive(1 + kMiscResponseSize, &bytes)) << k.what;
    EXPECT_EQ(bytes[0], 1) << k.what;
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data() + 1), "2.1.0") << k.what;
  }
}

TEST_F(ProtocolThreadTest, OverlongPayloadIsCutAndTheRestReadAsHeaders) {
  RawConnection raw;
  ASSERT_TRUE(raw.Connect(port));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(raw.Receive(6, &bytes));
  // SetParms claiming 3000 bytes: n = 1, Id 1 "T-S8" := "-9"; the server reads
  // 1529 + 4 of them and takes the other 1471 as what follows.
  std::vector<uint8_t> req = Header(kCodeSetParms, 3000);
  std::vector<uint8_t> payload(kReceiveBufferSize, 0);
  PutU16(payload.data(), 1);
  PutU16(payload.data() + 2, 1);
  std::memcpy(payload.data() + 6, "-9", 3);
  req.insert(req.end(), payload.begin(), payload.end());
  // 1471 = 133 version requests + an invalid header + a lone code.
  for (int i = 0; i < 133; ++i) {
    std::vector<uint8_t> version = EncodeMiscCommand(kMiscVersion);
    req.insert(req.end(), version.begin(), version.end());
  }
  std::vector<uint8_t> invalid = Header(1, 0);
  req.insert(req.end(), invalid.begin(), invalid.end());
  req.push_back(0x01);
  req.push_back(0x00);
  ASSERT_EQ(req.size(), 6u + 3004u);
  ASSERT_TRUE(raw.Send(req));

  ASSERT_TRUE(raw.Receive(1 + kResponseSize, &bytes));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 1);  // changes pending
  for (int i = 0; i < 133; ++i) {
    ASSERT_TRUE(raw.Receive(1 + kMiscResponseSize, &bytes)) << "version reply " << i + 1;
    ASSERT_EQ(bytes[0], 1) << "version reply " << i + 1;
  }
  ASSERT_TRUE(raw.Receive(1 + kResponseSize, &bytes));
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(v.s8, -9);
  raw.Close();
  ExpectServed();
}

namespace {

// One hostile client, then a well-behaved one on the same server. Each case is
// a test of its own, so that they run side by side.
struct HostileCase {
  const char* name;
  std::vector<uint8_t> bytes;
  bool vanish;  // close right after sending instead of waiting for the server
};
void PrintTo(const HostileCase& k, std::ostream* os) { *os << k.name; }

std::vector<HostileCase> HostileCases() {
  std::mt19937 rng(12345);
  std::vector<uint8_t> garbage(20000);
  for (auto& b : garbage) b = uint8_t(rng());
  std::vector<uint8_t> halfPayload = Header(kCodeGetParms, 100);
  halfPayload.resize(halfPayload.size() + 30, 0x11);
  return {
      {"TruncatedHeaderOfOneByte", {0xF7}, false},
      {"CodeWithoutALength", {0xF7, 0x03}, false},
      {"PayloadThatNeverComes", Header(kCodeGetParms, 100), false},
      {"HalfAPayloadThenGone", halfPayload, true},
      {"HeaderThenGone", Header(kCodeSetParms, 50), true},
      {"WholeRequestGoneBeforeTheAnswer", EncodeGetList(0), true},
      {"RandomBytes", garbage, false},
  };
}

class HostileClientTest : public ProtocolThreadTest, public ::testing::WithParamInterface<HostileCase> {};

}  // namespace

TEST_P(HostileClientTest, IsDroppedAndTheNextOneIsServed) {
  const HostileCase& k = GetParam();
  {
    RawConnection raw;
    ASSERT_TRUE(raw.Connect(port));
    std::vector<uint8_t> ack;
    ASSERT_TRUE(raw.Receive(6, &ack));
    ASSERT_TRUE(raw.Send(k.bytes) || k.vanish);
    if (!k.vanish) {
      EXPECT_TRUE(raw.WaitClosed());
    }
  }
  ExpectServed();
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileClientTest, ::testing::ValuesIn(HostileCases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

TEST_F(ProtocolThreadTest, AStalledClientDoesNotKeepTheNextOneOut) {
  RawConnection stalled;
  ASSERT_TRUE(stalled.Connect(port));
  std::vector<uint8_t> ack;
  ASSERT_TRUE(stalled.Receive(6, &ack));
  ASSERT_TRUE(stalled.Send(Header(kCodeSetParms, 1000)));  // and nothing more
  ExpectServed();  // waits in the backlog until the stalled one is dropped
  EXPECT_TRUE(stalled.WaitClosed());
}

// Progress that never ends a request: one byte now and then, each within the
// select time-out. The request's deadline ends it all the same.
TEST_F(ProtocolThreadTest, ATricklingClientDoesNotKeepTheNextOneOut) {
  RawConnection trickler;
  ASSERT_TRUE(trickler.Connect(port));
  std::vector<uint8_t> ack;
  ASSERT_TRUE(trickler.Receive(6, &ack));
  std::atomic<bool> stop{false};
  std::thread drip([&] {
    std::vector<uint8_t> request = Header(kCodeSetParms, 1000);
    request.resize(request.size() + 1004, 0x20);
    for (uint8_t byte : request) {
      if (stop.load() || !trickler.Send({byte})) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  EXPECT_TRUE(trickler.WaitClosed(60000));
  ExpectServed();
  stop = true;
  drip.join();
}

// The deadline is the tool's: a handler slower than it still answers.
TEST_F(ProtocolThreadTest, AnApplySlowerThanTheDeadlineIsAnswered) {
  catalog.SetApply(
      [](void*) -> PvlResult {
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));  // twice the test's deadline
        return PVL_OK;
      },
      nullptr);
  TunvexClient c;
  c.SetTimeout(60000);
  ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
  bool pending = true;
  ASSERT_TRUE(c.Apply(&pending)) << c.Error();
  EXPECT_FALSE(pending);
}

// TCP may cut a request anywhere: a header that comes in pieces is a header.
TEST_F(ProtocolThreadTest, ARequestInPiecesIsServed) {
  thread->SetRequestDeadline(60000);
  RawConnection raw;
  ASSERT_TRUE(raw.Connect(port));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(raw.Receive(6, &bytes));
  std::vector<uint8_t> request = EncodeMiscCommand(kMiscVersion);
  for (size_t cut : {size_t(1), size_t(3), size_t(7)}) {
    ASSERT_TRUE(raw.Send(std::vector<uint8_t>(request.begin(), request.begin() + ptrdiff_t(cut))));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // each piece in a receive of its own
    ASSERT_TRUE(raw.Send(std::vector<uint8_t>(request.begin() + ptrdiff_t(cut), request.end())));
    ASSERT_TRUE(raw.Receive(1 + kMiscResponseSize, &bytes)) << "cut after " << cut;
    EXPECT_EQ(bytes[0], 1) << "cut after " << cut;
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data() + 1), "2.1.0") << "cut after " << cut;
  }
}

// A tool idle between requests keeps the server while nobody else wants it,
// and gives it up to a tool that has waited long enough.
TEST_F(ProtocolThreadTest, AnIdleToolGivesWayToAWaitingOne) {
  thread->SetIdleHandover(1000);
  TunvexClient idle;
  idle.SetTimeout(30000);
  ASSERT_TRUE(idle.Connect("127.0.0.1", port)) << idle.Error();
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  std::string version;
  ASSERT_TRUE(idle.Version(&version)) << idle.Error();  // alone: still served

  ExpectServed();  // waits in the backlog until the idle one is let go
  EXPECT_FALSE(idle.Version(&version));
}

TEST_F(ProtocolThreadTest, TheNextToolIsServedWhenTheFirstLeaves) {
  auto first = std::make_unique<TunvexClient>();
  ASSERT_TRUE(first->Connect("127.0.0.1", port)) << first->Error();
  std::atomic<bool> served{false};
  std::thread second([&] {
    TunvexClient c;
    c.SetTimeout(60000);
    std::string version;
    served = c.Connect("127.0.0.1", port) && c.Version(&version);
  });
  std::string version;
  ASSERT_TRUE(first->Version(&version));
  first.reset();
  second.join();
  EXPECT_TRUE(served.load());
}

TEST_F(ProtocolThreadTest, AFloodOfConnectionsLeavesTheServerServing) {
  // What the server holds open without a flood: measured with the thread
  // stopped, and compared once it has stopped again after the flood.
  thread->EndProtocolThread();
  const int baseline = OpenDescriptors();
  ASSERT_GT(baseline, 0);
  ASSERT_EQ(thread->CreateProtocolThread(), 0);
  ASSERT_TRUE(thread->WaitListening(30000));
  port = thread->Port();

  // Tools that come at once are served one after the other.
  constexpr int kTools = 3;
  std::atomic<int> served{0};
  std::vector<std::thread> tools;
  for (int i = 0; i < kTools; ++i) {
    tools.emplace_back([&] {
      TunvexClient c;
      c.SetTimeout(60000);
      std::string version;
      if (c.Connect("127.0.0.1", port) && c.Version(&version) && version == "2.1.0") ++served;
    });
  }
  for (auto& t : tools) t.join();
  EXPECT_EQ(served.load(), kTools);

  // Connections that vanish while they wait in the backlog, some reset, some
  // closed: the kernel turns most away, the server accepts a few dead ones.
  for (int burst = 0; burst < 3; ++burst) ConnectionBurst(port, 64);
  ExpectServed();

  EXPECT_EQ(thread->EndProtocolThread(), 0);
  EXPECT_EQ(OpenDescriptors(), baseline);  // no connection left behind
}

// The engine's Apply runs on the protocol thread and may take its time: the
// thread is waited for to the end, however long its step lasts.
TEST_F(ProtocolThreadTest, EndWaitsForAStepLongerThanHalfASecond) {
  struct Blocker {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool release = false;
    static PvlResult Run(void* ctx) {
      auto* b = static_cast<Blocker*>(ctx);
      std::unique_lock<std::mutex> l(b->lock);
      b->entered = true;
      b->changed.notify_all();
      b->changed.wait(l, [b] { return b->release; });
      return PVL_OK;
    }
  } blocker;
  catalog.SetApply(&Blocker::Run, &blocker);

  std::thread tool([&] {
    TunvexClient c;
    c.SetTimeout(60000);
    bool pending = false;
    if (c.Connect("127.0.0.1", port)) c.Apply(&pending);  // its answer may never come
  });
  {
    std::unique_lock<std::mutex> l(blocker.lock);
    ASSERT_TRUE(blocker.changed.wait_for(l, std::chrono::seconds(60), [&] { return blocker.entered; }));
  }
  std::atomic<bool> ended{false};
  std::thread ender([&] {
    thread->EndProtocolThread();
    ended = true;
  });
  // Well past the half second for which the thread is first waited.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(ended.load());
  {
    std::lock_guard<std::mutex> l(blocker.lock);
    blocker.release = true;
  }
  blocker.changed.notify_all();
  ender.join();
  EXPECT_TRUE(ended.load());
  tool.join();
}

TEST_F(ProtocolThreadTest, EndsWhenAskedEvenWithAClientMidRequest) {
  RawConnection raw;
  ASSERT_TRUE(raw.Connect(port));
  std::vector<uint8_t> ack;
  ASSERT_TRUE(raw.Receive(6, &ack));
  ASSERT_TRUE(raw.Send(Header(kCodeGetParms, 10)));
  EXPECT_EQ(thread->EndProtocolThread(), 0);
  EXPECT_TRUE(raw.WaitClosed());
  EXPECT_EQ(thread->EndProtocolThread(), PVL_E_NOTREADY);
  // It can be started again.
  ASSERT_EQ(thread->CreateProtocolThread(), 0);
  EXPECT_EQ(thread->CreateProtocolThread(), PVL_E_NOTREADY);
  ASSERT_TRUE(thread->WaitListening(30000));
  port = thread->Port();
  ExpectServed();
}

// An owner whose last reference goes inside a request handler (the engine
// letting go of the server during Apply): the thread cannot wait for itself,
// so it ends after its step and then deletes the owner.
TEST(ProtocolThreadOwner, DeletedByTheThreadWhenItsLastReferenceGoesInAHandler) {
  setenv("TUNVEX_PORT", "0", 1);
  struct Owner {
    CTunvexCatalog catalog;
    CTunvexProtocolThread thread{&catalog};
    std::promise<void>* deleted = nullptr;
    ~Owner() { thread.EndProtocolThread(); }
  };
  std::promise<void> deleted;
  auto* owner = new Owner;
  owner->deleted = &deleted;
  owner->catalog.SetApply(
      [](void* ctx) -> PvlResult {
        auto* self = static_cast<Owner*>(ctx);
        EXPECT_TRUE(self->thread.OnProtocolThread());
        self->thread.DeleteOwnerOnExit(
            [](void* p) {
              auto* gone = static_cast<Owner*>(p);
              std::promise<void>* done = gone->deleted;
              delete gone;
              done->set_value();
            },
            self);
        return PVL_OK;
      },
      owner);
  ASSERT_EQ(owner->thread.CreateProtocolThread(), 0);
  ASSERT_TRUE(owner->thread.WaitListening(30000));
  EXPECT_FALSE(owner->thread.OnProtocolThread());
  const uint16_t port = owner->thread.Port();

  TunvexClient c;
  c.SetTimeout(30000);
  ASSERT_TRUE(c.Connect("127.0.0.1", port)) << c.Error();
  bool pending = true;
  c.Apply(&pending);  // the answer may be cut short by the server's going
  ASSERT_EQ(deleted.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  c.Close();
  EXPECT_FALSE(c.Connect("127.0.0.1", port));  // nobody listens any more
}

TEST(ProtocolThreadSetup, ABusyPortLeavesTheThreadIdleButStoppable) {
  CTunvexCatalog catalog;
  setenv("TUNVEX_PORT", "0", 1);
  CTunvexProtocolThread first(&catalog);
  ASSERT_EQ(first.CreateProtocolThread(), 0);
  ASSERT_TRUE(first.WaitListening(30000));
  setenv("TUNVEX_PORT", std::to_string(first.Port()).c_str(), 1);
  CTunvexProtocolThread second(&catalog);
  ASSERT_EQ(second.CreateProtocolThread(), 0);
  EXPECT_FALSE(second.WaitListening(30000));  // bind fails: the port is taken
  EXPECT_EQ(second.EndProtocolThread(), 0);
  EXPECT_EQ(first.EndProtocolThread(), 0);
}
