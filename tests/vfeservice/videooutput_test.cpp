// The video outputs and their buffer side: supported formats from the sensor,
// format validation, buffer sizes, modes and acknowledgement paths.
#include "casename.h"
#include "vfeservicefixture.h"

namespace vfeservicetest {
namespace {

// ---- Buffer sizes ----------------------------------------------------------------------------

struct SizeCase {
  const char* name;
  uint32_t fourcc, w, h, sx, sy, count;
  PvlResult result;
  uint32_t bufferSize;
};

class BufferSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BufferSizes, FormatToRequest) {
  const SizeCase& c = GetParam();
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  CVideoBufferManager* raw = nullptr;
  ASSERT_EQ(PVL_OK, CVideoBufferManager::Create(env.Get(), &raw));
  CPvlPtr<CVideoBufferManager> manager(raw);
  raw->Release();
  CameraPortFormat f{};
  f.FourCC = c.fourcc;
  f.Width = c.w;
  f.Height = c.h;
  f.HorizontalSampling = c.sx;
  f.VerticalSampling = c.sy;
  EXPECT_EQ(c.result, manager->SetFormat(f, c.count));
  BufferRequest request{};
  manager->GetBufferRequest(&request);
  if (c.result == PVL_OK) {
    EXPECT_EQ(c.bufferSize, request.size);
    EXPECT_EQ(c.count, request.count);
    EXPECT_EQ(ZUEUID_BUFFER_SOURCE_CONTIGUOUS, request.source);
    EXPECT_EQ(8u, request.alignment);
  } else {
    EXPECT_EQ(0u, request.size) << "a refused format changes nothing";
  }
}

constexpr uint32_t kNv21 = CAMERA_FOURCC_NV21;
INSTANTIATE_TEST_SUITE_P(
    VideoBufferManager, BufferSizes,
    ::testing::Values(SizeCase{"Vga", kNv21, 640, 480, 2, 2, 4, PVL_OK, 460800},
                      SizeCase{"Xga", kNv21, 1024, 768, 2, 2, 4, PVL_OK, 1179648},
                      SizeCase{"Qcif", kNv21, 176, 144, 2, 2, 4, PVL_OK, 38016},
                      SizeCase{"OddChromaRaisedToEight", kNv21, 12, 2, 2, 2, 1, PVL_OK, 40},
                      SizeCase{"BayerFull", 0, 2592, 1944, 1, 1, 1, PVL_OK, 5038848},
                      SizeCase{"Nv21NotMultipleOfEight", kNv21, 175, 143, 2, 2, 4, PVL_E_BADARG, 0},
                      SizeCase{"BayerNotMultipleOfEight", 0, 175, 143, 1, 1, 1, PVL_E_BADARG, 0},
                      SizeCase{"ZeroSampling", kNv21, 640, 480, 0, 2, 4, PVL_E_BADARG, 0},
                      SizeCase{"OtherCode", CAMERA_FOURCC_NV12, 640, 480, 2, 2, 4, PVL_E_BADARG, 0},
                      SizeCase{"ZeroCount", kNv21, 640, 480, 2, 2, 0, PVL_E_BADARG, 0}),
    camera::test::CaseName<SizeCase>);

// ---- Outputs ---------------------------------------------------------------------------------

class Outputs : public VfeServiceTest {
 protected:
  void SetUp() override {
    VfeServiceTest::SetUp();
    ASSERT_EQ(PVL_OK, Init());
  }
};

TEST_F(Outputs, SupportedFormatsFollowTheSensor) {
  struct Expect {
    uint32_t index, colorSpace, fourcc, width, height, sampling, stride;
  };
  const Expect expected[] = {{0, ZUEUID_COLORSPACE_RAW, 0, 1296, 972, 1, 1296},
                             {1, ZUEUID_COLORSPACE_YUV, kNv21, 1024, 768, 2, 1536},
                             {2, ZUEUID_COLORSPACE_YUV, kNv21, 1296, 972, 2, 1944}};
  for (const Expect& e : expected) {
    CameraPortFormat f{};
    int32_t count = 0;
    ASSERT_EQ(PVL_OK, svc_->GetOutput(e.index)->GetFormats(&f, 1, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(e.colorSpace, f.idColorSpace) << e.index;
    EXPECT_EQ(e.fourcc, f.FourCC) << e.index;
    EXPECT_EQ(e.width, f.Width) << e.index;
    EXPECT_EQ(e.height, f.Height) << e.index;
    EXPECT_EQ(e.sampling, f.HorizontalSampling) << e.index;
    EXPECT_EQ(e.stride, f.Stride) << e.index;
    EXPECT_EQ(33333u, f.FrameInterval) << e.index;
    EXPECT_EQ(static_cast<int32_t>(e.width), f.ClipRight) << e.index;
  }
}

struct FormatCase {
  const char* name;
  void (*change)(CameraPortFormat*);
  PvlResult result;
};

class Formats : public Outputs, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(Formats, Output1TakesOnlyWhatItSupports) {
  const FormatCase& c = GetParam();
  CVideoOutput* out1 = svc_->GetOutput(1);
  CameraPortFormat before = Nv21Format(320, 240);
  ASSERT_EQ(PVL_OK, out1->SetFormat(VIDEO_OUTPUT_MODE_VIDEO, &before));
  CameraPortFormat f = Nv21Format(640, 480);
  c.change(&f);
  EXPECT_EQ(c.result, out1->SetFormat(VIDEO_OUTPUT_MODE_VIDEO, &f));
  CameraPortFormat now{};
  ASSERT_EQ(PVL_OK, out1->GetFormat(VIDEO_OUTPUT_MODE_VIDEO, &now));
  EXPECT_EQ(c.result == PVL_OK ? f.Width : before.Width, now.Width) << "a refused format leaves the mode's";
}

INSTANTIATE_TEST_SUITE_P(
    VideoOutput, Formats,
    ::testing::Values(
        FormatCase{"Smaller", [](CameraPortFormat*) {}, PVL_OK},
        FormatCase{"OtherStrideAndRate", [](CameraPortFormat* f) { f->Stride = 1; f->FrameInterval = 5; }, PVL_OK},
        FormatCase{"ZeroWidth", [](CameraPortFormat* f) { f->Width = 0; }, PVL_E_BADARG},
        FormatCase{"TooWide", [](CameraPortFormat* f) { f->Width = 1032; f->ClipRight = 1032; }, PVL_E_BADARG},
        FormatCase{"ClipPastWidth", [](CameraPortFormat* f) { f->ClipRight = 641; }, PVL_E_BADARG},
        FormatCase{"NegativeClip", [](CameraPortFormat* f) { f->ClipLeft = -1; }, PVL_E_BADARG},
        FormatCase{"OtherCode", [](CameraPortFormat* f) { f->FourCC = CAMERA_FOURCC_NV12; }, PVL_E_BADARG},
        FormatCase{"OtherColorSpace", [](CameraPortFormat* f) { f->idColorSpace = ZUEUID_COLORSPACE_RAW; },
                   PVL_E_BADARG},
        FormatCase{"OtherSampling", [](CameraPortFormat* f) { f->HorizontalSampling = 1; }, PVL_E_BADARG},
        // Valid for the output, refused by the buffer side: the mode keeps its format.
        FormatCase{"PlanesNotMultipleOfEight", [](CameraPortFormat* f) { f->Width = 175; f->Height = 143;
                                                                            f->ClipRight = 175; f->ClipBottom = 143; },
                   PVL_E_BADARG}),
    camera::test::CaseName<FormatCase>);

TEST_F(Outputs, TheRawOutputTakesOnlyItsOwnCode) {
  CVideoOutput* raw = svc_->GetOutput(0);
  CameraPortFormat f{};
  f.idColorSpace = ZUEUID_COLORSPACE_RAW;
  f.FourCC = 0;
  f.Width = 1296;
  f.Height = 972;
  f.HorizontalSampling = 1;
  f.VerticalSampling = 1;
  f.ClipRight = 1296;
  f.ClipBottom = 972;
  EXPECT_EQ(PVL_OK, raw->SetFormat(VIDEO_OUTPUT_MODE_STILL, &f));
  f.FourCC = 0x47524247u;  // a Bayer code
  EXPECT_EQ(PVL_E_BADARG, raw->SetFormat(VIDEO_OUTPUT_MODE_STILL, &f));
}

TEST_F(Outputs, ModesAndBadArguments) {
  CVideoOutput* out1 = svc_->GetOutput(1);
  uint8_t on = 9;
  EXPECT_EQ(PVL_E_BADARG, out1->IsEnabled(2, &on));
  EXPECT_EQ(PVL_E_BADARG, out1->IsEnabled(0, nullptr));
  EXPECT_EQ(PVL_E_BADARG, out1->Enable(2, 1));
  EXPECT_EQ(PVL_E_NULLPTR, out1->GetOutputId(nullptr));
  EXPECT_EQ(PVL_E_BADARG, out1->SetFormat(2, &(const CameraPortFormat&)Nv21Format(320, 240)));
  EXPECT_EQ(PVL_E_BADARG, out1->SetCurrentMode(2, 0));
  CameraPortFormat f{};
  EXPECT_EQ(PVL_E_BADARG, out1->GetCurrentFormat(&f)) << "no mode current yet";
  // The video mode always asks for four buffers; the still mode for its count.
  ASSERT_EQ(PVL_OK, out1->SetCurrentMode(VIDEO_OUTPUT_MODE_VIDEO, 7));
  EXPECT_EQ(4, out1->GetCurrentBufferCount());
  ASSERT_EQ(PVL_OK, out1->SetCurrentMode(VIDEO_OUTPUT_MODE_STILL, 3));
  EXPECT_EQ(3, out1->GetCurrentBufferCount());
  ASSERT_EQ(PVL_OK, out1->SetFormat(VIDEO_OUTPUT_MODE_STILL, &(const CameraPortFormat&)Nv21Format(320, 240)));
  BufferRequest r{};
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, out1->GetBufferInfo(VIDEO_OUTPUT_MODE_STILL, &r, 1, &count));
  EXPECT_EQ(3u, r.count);
  EXPECT_EQ(PVL_E_BADARG, out1->GetBufferInfo(VIDEO_OUTPUT_MODE_STILL, nullptr, 1, &count));
}

TEST_F(Outputs, AckModesAndStatus) {
  CVideoOutput* raw = svc_->GetOutput(0);
  CVideoOutput* out2 = svc_->GetOutput(2);
  out2->SetAckMode(1);
  EXPECT_EQ(uint32_t(VFE_CMD_ACK_OUTPUT_MODE1), out2->GetAckCommand());
  out2->SetAckMode(5);
  EXPECT_EQ(uint32_t(VFE_CMD_ACK_OUTPUT_MODE1), out2->GetAckCommand());
  out2->SetAckMode(0);
  EXPECT_EQ(uint32_t(VFE_CMD_ACK_OUTPUT), out2->GetAckCommand());
  raw->SetAckMode(1);
  EXPECT_EQ(uint32_t(VFE_CMD_ACK_OUTPUT), raw->GetAckCommand());
  uint32_t a = 7, b = 7;
  EXPECT_EQ(PVL_E_UNSUPPORTED, raw->QueryStatus(&a, &b));
  EXPECT_EQ(7u, a);
  EXPECT_EQ(PVL_OK, out2->QueryStatus(&a, &b));
  EXPECT_EQ(PVL_E_BADARG, out2->QueryStatus(nullptr, &b));
  CPvlPtr<ISignalControl> signal;
  EXPECT_EQ(PVL_OK, raw->GetReadySignal(&signal));
  EXPECT_EQ(nullptr, signal.Get());
  EXPECT_EQ(PVL_OK, out2->GetReadySignal(&signal));
  EXPECT_EQ(svc_->GetReadySignalControl(CVfeService::kSignalAckOutput2), signal.Get());
}

TEST_F(Outputs, NoFreeBufferMeansNoneQueued) {
  CVideoOutput* out1 = svc_->GetOutput(1);
  CPvlPtr<ICameraBufferManager> bm = SetUpMode(out1, VIDEO_OUTPUT_MODE_VIDEO, Nv21Format(kOut1W, kOut1H));
  ASSERT_EQ(PVL_OK, out1->SetCurrentMode(VIDEO_OUTPUT_MODE_VIDEO, 0));
  for (int i = 0; i < 4; ++i) {
    IPvlMediaBuffer* b = nullptr;
    ASSERT_EQ(PVL_OK, out1->QueueNewBuffer(&b));
  }
  IPvlMediaBuffer* none = nullptr;
  EXPECT_EQ(CAMERA_BM_E_NO_FREE_BUFFER, out1->QueueNewBuffer(&none));
  EXPECT_EQ(4u, out1->OutstandingCount());
}

}  // namespace
}  // namespace vfeservicetest
