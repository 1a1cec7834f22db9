// The crop's window arithmetic runs in the runtime's Q12 fixed point:
// products keep floor((a * b) >> 12), quotients truncate towards zero and the
// final pixel positions round half away from zero.
#include "cfovcropconfiguration.h"

#include <algorithm>

#include "camerasettings.h"
#include "cblock23configuration.h"
#include "ccamifconfiguration.h"
#include "cfixedpoint.h"
#include "pvllog.h"

namespace {

// A Bayer window loses 12 columns and 6 lines to the demosaic's borders.
constexpr uint32_t kBayerBorderW = 12;
constexpr uint32_t kBayerBorderH = 6;

// The block-23 window (its words are sizes minus one).
void Block23Window(IVfeServiceInternal* service, uint32_t* w, uint32_t* h) {
  CBlock23Configuration* block23 = service->GetBlock23Configuration();
  *w = block23 ? static_cast<uint32_t>(block23->GetPayload().field20) + 1 : 0;
  *h = block23 ? static_cast<uint32_t>(block23->GetPayload().field22) + 1 : 0;
}

int32_t RoundQ(const CFixedPoint& x, PvlResult* r) {
  int32_t value = 0;
  PvlResult code = x.GetInt(&value);
  if (code != PVL_OK && *r == PVL_OK) *r = code;
  return value;
}

}  // namespace

PvlResult CFovCropConfiguration::SetDefaultWindow(IVfeSettings* settings) {
  PvlResult r = m_sensor.Fill(settings);
  if (r != PVL_OK) return r;
  CCamifConfiguration* camif = m_service->GetCamifConfiguration();
  if (!camif) return PVL_E_NOTREADY;
  uint32_t w = camif->GetWindowWidth() / std::max<uint32_t>(camif->GetPixelSkipFactor(), 1);
  uint32_t h = camif->GetWindowHeight() / std::max<uint32_t>(camif->GetLineSkipFactor(), 1);
  if (m_sensor.IsYUV()) {
    if (w == 0 || h == 0) return PVL_E_BADARG;
    w = (w - w % 4) / 2;
  } else {
    if (w == 0 || h == 0) Block23Window(m_service, &w, &h);
    // A window without room for the borders would wrap in the 16-bit fields.
    if (w <= kBayerBorderW + 1 || h <= kBayerBorderH) return PVL_E_BADARG;
    w = w - (w % 2) - kBayerBorderW;
    h = h - kBayerBorderH;
  }
  m_payload.enable = ByteToBool(1);
  m_payload.firstPixel = 0;
  m_payload.firstLine = 0;
  m_payload.lastPixel = static_cast<uint16_t>(w - 1);
  m_payload.lastLine = static_cast<uint16_t>(h - 1);
  return PVL_OK;
}

PvlResult CFovCropConfiguration::GetCropWindow(IVfeSettings* settings) {
  if (!settings) return PVL_E_NULLPTR;
  const int32_t W = static_cast<int32_t>(GetWindowWidth());
  const int32_t H = static_cast<int32_t>(GetWindowHeight());
  CFixedPoint wq(W), hq(H);
  CFixedPoint aspect = wq;
  aspect /= hq;

  CFixedPoint crop;
  PvlResult r = settings->GetCropFactor(&crop);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Return Failure at GetCropFactor");
    return r;
  }
  // A factor below 1 would ask for more than the sensor has.
  if (crop < CFixedPoint(1)) return PVL_E_BADARG;

  IVideoOutputControl* out1 = m_service->GetCurrentOutput1();
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  bool on1 = out1 && out1->IsCurrentModeEnabled();
  bool on2 = out2 && out2->IsCurrentModeEnabled();
  if (!on1 && !on2) return PVL_E_FAIL;
  VfeSize s1 = on1 ? out1->GetOutputSize() : VfeSize{0, 0};
  VfeSize s2 = on2 ? out2->GetOutputSize() : VfeSize{0, 0};
  // An enabled output of no size has no aspect ratio to keep.
  if ((on1 && (s1.width == 0 || s1.height == 0)) || (on2 && (s2.width == 0 || s2.height == 0)))
    return PVL_E_BADARG;
  CFixedPoint r1(0), r2(0);
  if (on1) {
    r1 = CFixedPoint(static_cast<int32_t>(s1.width));
    r1 /= CFixedPoint(static_cast<int32_t>(s1.height));
  }
  if (on2) {
    r2 = CFixedPoint(static_cast<int32_t>(s2.width));
    r2 /= CFixedPoint(static_cast<int32_t>(s2.height));
  }
  if (r1 == 0 || r2 == 0) r1 = r2 = (r1 > r2 ? r1 : r2);
  if (r1 == aspect && r2 == aspect && crop == 1) return PVL_OK;
  if (on1 && on2 && r1 != r2)
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Both outputs have different aspect ratios. Frames maybe distorted");
  CFixedPoint rmin = r1 < r2 ? r1 : r2;
  CFixedPoint rmax = r1 > r2 ? r1 : r2;

  CFixedPoint newW, newH;
  if (rmin < aspect) {
    newH = hq;
    newH /= crop;
    newW = newH;
    newW *= rmin;
    if (newW > W) newW = wq;
  } else {
    newW = wq;
    newW /= crop;
    newH = newW;
    newH /= rmax;
    if (newH > H) newH = hq;
  }
  int32_t maxW = static_cast<int32_t>(std::max(s1.width, s2.width));
  int32_t maxH = static_cast<int32_t>(std::max(s1.height, s2.height));
  if (newH < maxH) newH = CFixedPoint(maxH);
  if (newW < maxW) newW = CFixedPoint(maxW);

  CFixedPoint firstX = wq;
  firstX -= newW;
  firstX /= CFixedPoint(2);
  CFixedPoint lastX = firstX;
  lastX += newW;
  lastX -= CFixedPoint(1);
  CFixedPoint firstY = hq;
  firstY -= newH;
  firstY /= CFixedPoint(2);
  CFixedPoint lastY = firstY;
  lastY += newH;
  lastY -= CFixedPoint(1);
  PvlResult conv = PVL_OK;
  int32_t x0 = RoundQ(firstX, &conv), x1 = RoundQ(lastX, &conv);
  int32_t y0 = RoundQ(firstY, &conv), y1 = RoundQ(lastY, &conv);
  if (conv != PVL_OK) return PVL_E_NOTREPRESENTABLE;
  m_payload.firstPixel = static_cast<uint16_t>(x0);
  m_payload.lastPixel = static_cast<uint16_t>(x1);
  m_payload.firstLine = static_cast<uint16_t>(y0);
  m_payload.lastLine = static_cast<uint16_t>(y1);
  return PVL_OK;
}

PvlResult CFovCropConfiguration::Recompute(IVfeSettings* settings) {
  PvlResult r = SetDefaultWindow(settings);
  if (r != PVL_OK) return r;
  return GetCropWindow(settings);
}

PvlResult CFovCropConfiguration::SendUpdate() {
  return m_service->SendCommand(VFE_CMD_FOV_CROP_UPDATE, &m_payload, sizeof m_payload);
}

float CFovCropConfiguration::GetMaxCropFactor() {
  if (m_sensor.Fill(m_service->GetVfeSettings()) != PVL_OK) return 0.0f;
  int32_t aw = 0, ah = 0;
  m_sensor.GetActiveSize(&aw, &ah);
  if (m_sensor.IsYUV()) aw /= 2;

  IVideoOutputControl* out1 = m_service->GetCurrentOutput1();
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  bool on1 = out1 && out1->IsCurrentModeEnabled();
  bool on2 = out2 && out2->IsCurrentModeEnabled();
  VfeSize m1 = out1 ? out1->GetMode1Size() : VfeSize{0, 0};
  VfeSize m2 = out2 ? out2->GetMode1Size() : VfeSize{0, 0};
  uint32_t mw = 0, mh = 0;
  if (on1 && on2) {
    mw = std::min(m1.width, m2.width);
    mh = std::min(m1.height, m2.height);
  } else if (on1 || on2) {
    mw = on1 ? m1.width : m2.width;
    mh = on1 ? m1.height : m2.height;
  }
  uint32_t uaw = aw > 0 ? static_cast<uint32_t>(aw) : 0, uah = ah > 0 ? static_cast<uint32_t>(ah) : 0;
  uint32_t dx = mw ? (uaw + mw - 1) / mw : 0;
  uint32_t dy = mh ? (uah + mh - 1) / mh : 0;
  uint32_t sx = dx > 32 ? (dx + 31) / 32 : 1;
  uint32_t sy = dy > 32 ? (dy + 31) / 32 : 1;
  uint32_t w2 = uaw / sx, h2 = uah / sy;
  uint32_t iw = static_cast<uint32_t>(m_sensor.GetInputWidth());
  uint32_t ih = static_cast<uint32_t>(m_sensor.GetInputHeight());
  if (m_sensor.IsYUV()) {
    if (w2 && h2 && iw && ih)
      w2 = (w2 - w2 % 4) / 2;
    else
      CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "YUV sensor input width or height = 0");
  } else {
    if (!w2 || !h2 || !iw || !ih) {
      Block23Window(m_service, &w2, &h2);
      iw = w2;
      ih = h2;
    }
    if (w2 > kBayerBorderW + 1 && h2 > kBayerBorderH) {
      w2 = w2 - (w2 % 2) - kBayerBorderW;
      h2 = h2 - kBayerBorderH;
    } else {
      CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Error, width or height is zero");
      return 1.0f;
    }
  }
  uint32_t maxW = std::max(m1.width, m2.width), maxH = std::max(m1.height, m2.height);
  // No output size: nothing to zoom towards.
  if (maxW == 0 || maxH == 0) return 1.0f;
  double fx = static_cast<double>(w2) / maxW, fy = static_cast<double>(h2) / maxH;
  return static_cast<float>(std::min(fx, fy));
}
