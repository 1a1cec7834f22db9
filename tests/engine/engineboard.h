// The engine on the simulated board as a capture client drives it: generous
// waits, frames read out of a port, the client's own buffers for a port, a
// reader of the preview on a thread of its own, and a fixture that makes the
// engine from a configuration and takes it down again. The board tests of the
// engine share them, so that each says only what it checks.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "camerasettings.h"
#include "ccameraengine.h"
#include "ccameraenginefrontend.h"
#include "cenginestatemachine.h"
#include "chipset.h"
#include "cpvlmediabuffer.h"
#include "cpvlptr.h"
#include "icamerabuffermanager.h"
#include "icameraport.h"
#include "ienv.h"
#include "nv21frame.h"

namespace engineboard {

using namespace std::chrono_literals;

// The sizes a client asks for: a VGA preview, a still at the sensor's full size.
constexpr uint32_t kPreviewW = 640, kPreviewH = 480;
constexpr uint32_t kStillW = 2592, kStillH = 1944;

// Generous: the machine is shared and the board runs at real speed.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 180s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(2ms);
  return done();
}

// What a frame holds, where the buffer says.
struct Bytes {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};
inline Bytes Contents(IPvlMediaBuffer* frame) {
  uint64_t address = 0;
  uint32_t offset = 0, size = 0;
  frame->GetVirtualAddress(&address);
  frame->GetOffset(&offset);
  frame->GetActualSize(&size);
  return {reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address)) + offset, size};
}

// The next frame, or null after a generous wait (the port is then stopped
// to wake the reader: GetNextFrame itself never times out).
inline IPvlMediaBuffer* NextFrame(ICameraPort* port, int seconds = 60) {
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < seconds * 100 && !done; ++i) std::this_thread::sleep_for(10ms);
    if (!done) port->Stop();
  });
  IPvlMediaBuffer* frame = nullptr;
  PvlResult r = port->GetNextFrame(&frame);
  done = true;
  watchdog.join();
  return r == PVL_OK ? frame : nullptr;
}

// The frame interval these tests give the formats they arm the engine's ports with.
inline constexpr uint32_t kFrameIntervalUs = 333333;
using camera::test::Nv21Format;

// A listener the engine tells when a focus run or a pre-flash ends.
class CountingListener final : public ICameraSettingsListener {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_UNSUPPORTED;
  }
  PvlResult Notify() override {
    ++told;
    return PVL_OK;
  }
  uintptr_t Cookie() { return reinterpret_cast<uintptr_t>(static_cast<ICameraSettingsListener*>(this)); }
  std::atomic<int32_t> refs{0};
  std::atomic<int> told{0};
};

// Reads the preview port as a client does, on a thread of its own, counting
// the frames and keeping a copy of the latest.
class PreviewReader {
 public:
  explicit PreviewReader(ICameraPort* port) : m_port(port) {
    m_thread = std::thread([this] {
      for (;;) {
        IPvlMediaBuffer* frame = nullptr;
        PvlResult r = m_port->GetNextFrame(&frame);
        if (r == PVL_E_STOPPED || r == PVL_E_NOTREADY) {
          if (m_done.load()) return;
          std::this_thread::sleep_for(1ms);
          continue;
        }
        if (r != PVL_OK) return;
        const Bytes b = Contents(frame);
        {
          std::lock_guard<std::mutex> hold(m_lock);
          m_latest.assign(b.data, b.data + b.size);
        }
        ++frames;
        frame->Release();
      }
    });
  }
  ~PreviewReader() { Finish(); }
  std::vector<uint8_t> Latest() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_latest;
  }
  // Waits for `more` frames beyond those counted now.
  bool WaitForMore(int more) {
    const int target = frames.load() + more;
    return WaitFor([&] { return frames.load() >= target; });
  }
  void Finish() {
    if (!m_thread.joinable()) return;
    m_done = true;
    m_port->Stop();
    m_thread.join();
  }
  std::atomic<int> frames{0};

 private:
  ICameraPort* m_port;
  std::mutex m_lock;
  std::vector<uint8_t> m_latest;
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

// The client's own contiguous memory for its ports, as a capture
// application's buffers are; freed after the engine let go of the ports.
class ClientBuffers {
 public:
  // The client's part of a port: its format, a pool of the size it asks for, started.
  void Arm(IEnv* env, ICameraPort* port, const CameraPortFormat& format) {
    ASSERT_EQ(PVL_OK, port->SetFormat(&format));
    BufferRequest request{};
    uint32_t count = 0;
    ASSERT_EQ(PVL_OK, port->GetBufferRequirements(&request, 1, &count));
    ASSERT_GE(count, 1u);
    CPvlPtr<ICameraBufferManager> bm;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_BUFFER_MANAGER, bm.Out()));
    ASSERT_EQ(PVL_OK, bm->InitRequirements(&request, 1, 0));
    for (uint32_t i = 0; i < request.count; ++i) {
      void* memory = pmem_malloc(request.size, 0);
      ASSERT_NE(memory, nullptr);
      m_memory.push_back(memory);
      IPvlMediaBuffer* buffer = nullptr;
      ASSERT_EQ(PVL_OK, bm->AddExternalBuffer(reinterpret_cast<uintptr_t>(memory), pmem_get_phys_addr(memory),
                                              1, request.size, &buffer));
      if (buffer) buffer->Release();
    }
    ASSERT_EQ(PVL_OK, port->SetBufferManager(bm.Get()));
    m_managers.push_back(bm);
    ASSERT_EQ(PVL_OK, port->Start());
  }
  void Free() {
    for (auto& bm : m_managers) bm->Free();
    m_managers.clear();
    for (void* m : m_memory) pmem_free(m);
    m_memory.clear();
  }

 private:
  std::vector<CPvlPtr<ICameraBufferManager>> m_managers;
  std::vector<void*> m_memory;
};

// The engine made unregistered from a configuration, driven through its
// front end; on the way out the stream stopped, the ports and the engine let
// go, and the engine must have let go of the focus listener.
class EngineBoardFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    reader_.reset();
    if (engine_) {
      if (State() == ENGINE_STATE_VIDEO) control_->Stop();
      for (ICameraPort* port : ports_) {
        port->Stop();
        port->Release();
      }
      ports_.clear();
      if (State() == ENGINE_STATE_READY) control_->Uninitialize();
      engine_->Release();
      engine_ = nullptr;
    }
    EXPECT_EQ(0, focusListener_.refs.load()) << "the engine kept the focus listener";
  }

  // The engine from `config` (null: the device's own), and the one sensor it lists.
  void MakeEngine(const char* config) {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    ASSERT_EQ(PVL_OK, CCameraEngine::CreateUnregistered(env_.Get(), false, config, &engine_));
    control_ = engine_->FrontEnd();
    CameraSensorDescriptor sensor{};
    uint32_t count = 0;
    ASSERT_EQ(PVL_OK, engine_->GetCameras(&sensor, 1, &count));
    ASSERT_EQ(1u, count);
    sensorClass_ = sensor.DriverClass;
  }

  int32_t State() {
    CPvlPtr<CEngineStateMachine> machine;
    if (engine_->GetStateMachine(&machine) != PVL_OK) return -1;
    return machine->GetCurrentStateId();
  }

  // Initialised and the ports fetched.
  void InitializePorts() {
    ASSERT_EQ(PVL_OK, control_->Initialize(sensorClass_));
    ICameraPort* ports[5] = {};
    uint32_t count = 0;
    ASSERT_EQ(PVL_OK, control_->GetPorts(ports, 5, &count));
    ports_.assign(ports, ports + count);
  }

  // The preview port started: the preview running and read.
  void ReadPreview() {
    reader_ = std::make_unique<PreviewReader>(ports_[0]);
    ASSERT_EQ(PVL_OK, control_->StartVideo());
    ASSERT_TRUE(reader_->WaitForMore(3)) << "no preview frames";
  }

  CPvlPtr<IEnv> env_;
  CCameraEngine* engine_ = nullptr;
  CCameraEngineFrontEnd* control_ = nullptr;
  uint32_t sensorClass_ = 0;
  std::vector<ICameraPort*> ports_;
  std::unique_ptr<PreviewReader> reader_;
  // The engine keeps it (counted) until it goes.
  CountingListener focusListener_;
};

}  // namespace engineboard
