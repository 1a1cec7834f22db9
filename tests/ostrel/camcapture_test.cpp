// The camcapture tool over the driver and the stand-in engine: its arguments and exit
// codes, the .y4m it writes, the still it saves and the controls it sets by name.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "camcapture.h"
#include "ostrel_fixture.h"

namespace ostrel_test {
namespace {

class CamCaptureTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    Load();
    char pattern[] = "/tmp/camcapture_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf " + dir_;
    (void)std::system(command.c_str());
    DriverTest::TearDown();
  }
  // Runs the tool; its output and error text are kept.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "camcapture");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    int r = RunCamCapture(int(argv.size()), argv.data(), out, err);
    out_ = Slurp(out);
    err_ = Slurp(err);
    return r;
  }
  static std::string Slurp(std::FILE* f) {
    std::rewind(f);
    std::string s;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
    std::fclose(f);
    return s;
  }
  static std::string File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_, out_, err_;
};

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
};

class CamCaptureUsageTest : public CamCaptureTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CamCaptureUsageTest, IsRefusedWithTheUsage) {
  EXPECT_EQ(Run(GetParam().args), kCamCaptureUsage);
  EXPECT_NE(err_.find("usage: camcapture"), std::string::npos) << err_;
}

INSTANTIATE_TEST_SUITE_P(
    Tool, CamCaptureUsageTest,
    ::testing::Values(UsageCase{"NothingToDo", {}}, UsageCase{"UnknownOption", {"--frobnicate"}},
                      UsageCase{"StreamWithoutFile", {"--stream", "5"}},
                      UsageCase{"StreamOfNoFrames", {"--stream", "0", "x.y4m"}},
                      UsageCase{"BadSize", {"--size", "640by480", "--stream", "1", "x.y4m"}},
                      UsageCase{"UnknownPin", {"--pin", "thumbnail", "--stream", "1", "x.y4m"}},
                      UsageCase{"UnknownControl", {"--set", "warp=9"}},
                      UsageCase{"SetWithoutValue", {"--set", "zoom"}},
                      UsageCase{"QualityOutOfRange", {"--quality", "101", "--still", "x.jpg"}},
                      UsageCase{"ExifWithoutText", {"--exif", "0x010F", "--still", "x.jpg"}}),
    [](const ::testing::TestParamInfo<UsageCase>& i) { return std::string(i.param.name); });

TEST_F(CamCaptureTest, HelpIsNoError) {
  EXPECT_EQ(Run({"--help"}), kCamCaptureOk);
  EXPECT_NE(out_.find("--stream N FILE.y4m"), std::string::npos);
  EXPECT_NE(out_.find("exit codes"), std::string::npos);
}

TEST_F(CamCaptureTest, ListShowsPinsFormatsAndControls) {
  ASSERT_EQ(Run({"--list"}), kCamCaptureOk) << err_;
  for (const char* text : {"pin 2 Preview: 2 formats", "640x480 YV12", "pin 1 Still", "2592x1944 IJPG",
                           "brightness", "zoom", "range 100..400"})
    EXPECT_NE(out_.find(text), std::string::npos) << text << "\n" << out_;
}

TEST_F(CamCaptureTest, StreamWritesAY4mFile) {
  for (const char* memory : {"contiguous", "heap"}) {
    const std::string file = dir_ + "/preview-" + memory + ".y4m";
    ASSERT_EQ(Run({"--stream", "5", file, "--size", "320x240", "--memory", memory}), kCamCaptureOk) << err_;
    const std::string y4m = File(file);
    // The VFE's YCbCr is full range, and the header says so.
    const std::string header = "YUV4MPEG2 W320 H240 F10000000:666660 Ip A1:1 C420jpeg XCOLORRANGE=FULL\n";
    ASSERT_EQ(y4m.compare(0, header.size(), header), 0) << y4m.substr(0, 60);
    const size_t frame = 6 + 320 * 240 * 3 / 2;
    ASSERT_EQ(y4m.size(), header.size() + 5 * frame) << memory;
    // The planes are Y, U, V whichever memory the frames came in: U is the port's 0x40.
    const size_t u = header.size() + 6 + 320 * 240;
    EXPECT_EQ(uint8_t(y4m[u]), 0x40) << memory;
    EXPECT_EQ(uint8_t(y4m[u + 320 * 240 / 4]), 0xC0) << memory;
    EXPECT_NE(err_.find("frame 5/5"), std::string::npos) << "the progress line";
  }
  EXPECT_EQ(ExtraThreads(), 0u) << "the camera was closed";
}

TEST_F(CamCaptureTest, AStillIsSavedWithItsTags) {
  const std::string file = dir_ + "/still.jpg";
  ASSERT_EQ(Run({"--still", file, "--quality", "85", "--exif", "0x010F=Vantor"}), kCamCaptureOk) << err_;
  const std::string jpeg = File(file);
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(uint8_t(jpeg[0]), 0xFF);
  EXPECT_EQ(uint8_t(jpeg[1]), 0xD8);
  EXPECT_EQ(FakeCameraEngine::ExifTags()[0x010F], "Vantor");
  uint32_t quality = 0;
  ASSERT_TRUE(FakeCameraEngine::StillPortValue(ZUEUID_PROPERTY_JPEG_QUALITY, &quality));
  EXPECT_EQ(quality, 85u);
}

TEST_F(CamCaptureTest, ControlsAreSetByName) {
  ASSERT_EQ(Run({"--set", "zoom=200", "--set", "brightness=0", "--set", "whitebalance=auto", "--set", "flash=auto"}),
            kCamCaptureOk)
      << err_;
  PvlValueRecord zoom{};
  ASSERT_TRUE(FakeCameraEngine::PropertyValue(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, &zoom));
  EXPECT_FLOAT_EQ(zoom.payload.f, 2.0f);
  PvlValueRecord wb{};
  uint32_t mode = 0;
  ASSERT_TRUE(FakeCameraEngine::PropertyValue(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, &wb, &mode));
  EXPECT_EQ(mode, 3u) << "automatic";
  // Effects and best-shot modes are selectors: on (flags 8, engine mode 1) for a mode, off (4, mode 0) for 0.
  const struct {
    const char* set;
    uint32_t id;
    int32_t value;
    uint32_t mode;
  } selectors[] = {
      {"effect=2", ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, 2, 1},
      {"effect=0", ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, 0, 0},
      {"bestshot=3", ZUEUID_PROPERTY_BEST_SHOT_MODE, 3, 1},
  };
  for (const auto& c : selectors) {
    SCOPED_TRACE(c.set);
    ASSERT_EQ(Run({"--set", c.set}), kCamCaptureOk) << err_;
    PvlValueRecord v{};
    ASSERT_TRUE(FakeCameraEngine::PropertyValue(c.id, &v, &mode));
    EXPECT_EQ(v.payload.i32, c.value);
    EXPECT_EQ(mode, c.mode);
  }
  EXPECT_EQ(Run({"--set", "zoom=9999"}), kCamCaptureUsage) << "outside the published range";
  EXPECT_EQ(Run({"--set", "flash=sometimes"}), kCamCaptureUsage);
}

TEST_F(CamCaptureTest, FocusRunsDuringTheStreamAndIsWaitedFor) {
  // The engine ends the focus run itself, inside StartFocus: no test thread fires a
  // signal control that the closing camera may already have released.
  FakeEngineConfig config;
  config.focusEndsAtOnce = true;
  Reset(config);
  Load();
  int r = Run({"--stream", "3", dir_ + "/f.y4m", "--size", "320x240", "--focus"});
  EXPECT_EQ(r, kCamCaptureOk) << err_;
  EXPECT_NE(out_.find("focus: done"), std::string::npos) << out_;
  EXPECT_EQ(FakeCameraEngine::CallCount("StartFocus"), 1);
}

// Without a stream of its own the focus gets a preview that writes nothing.
TEST_F(CamCaptureTest, FocusWithoutAStreamRunsOverAPreviewOfItsOwn) {
  FakeEngineConfig config;
  config.focusEndsAtOnce = true;
  Reset(config);
  Load();
  EXPECT_EQ(Run({"--focus"}), kCamCaptureOk) << err_;
  EXPECT_NE(out_.find("focus: done"), std::string::npos) << out_;
  EXPECT_EQ(out_.find("stream:"), std::string::npos) << "no file was asked for";
  EXPECT_EQ(FakeCameraEngine::CallCount("StartFocus"), 1);
}

TEST_F(CamCaptureTest, AFocusWithoutAnswerIsReportedAndTheRunGoesOn) {
  ASSERT_EQ(Run({"--focus"}), kCamCaptureOk) << err_;
  EXPECT_NE(err_.find("the focus gave no answer"), std::string::npos) << err_;
}

TEST_F(CamCaptureTest, AFormatThePinDoesNotOfferFails) {
  EXPECT_EQ(Run({"--stream", "1", dir_ + "/x.y4m", "--size", "100x100"}), kCamCaptureFailed);
  EXPECT_NE(err_.find("offers no 100x100 format"), std::string::npos) << err_;
}

TEST_F(CamCaptureTest, AnUnwritableFileFails) {
  EXPECT_EQ(Run({"--stream", "1", dir_ + "/no/such/dir/x.y4m", "--size", "320x240"}), kCamCaptureFailed);
  EXPECT_NE(err_.find("cannot write"), std::string::npos) << err_;
}

TEST_F(CamCaptureTest, ACameraInUseFails) {
  camclient::Camera other;
  ASSERT_EQ(other.Open(), ERROR_SUCCESS);
  EXPECT_EQ(Run({"--list"}), kCamCaptureFailed);
  EXPECT_NE(err_.find("opening the camera CAM1: failed"), std::string::npos) << err_;
}

}  // namespace
}  // namespace ostrel_test
