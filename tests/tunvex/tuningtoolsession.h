// The tuning tool's side of a board test: the tuning server switched on for
// this process on a free loopback port (its flag file in the image, and
// TUNVEX_PORT), and the tool's client, which connects while the server comes
// up. The switch is taken back when the session ends.
#pragma once

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "image_copy.h"
#include "tunvexclient.h"
#include "tunvextestnet.h"

class TuningToolSession {
 public:
  // `port` stays 0 when no loopback port is free.
  TuningToolSession() : port(FreeLoopbackPort()) {
    if (port == 0) return;
    setenv("TUNVEX_PORT", std::to_string(port).c_str(), 1);
    camera::test::WriteImageFile(kFlagFile, "");
    client.SetTimeout(30000);
  }
  ~TuningToolSession() {
    client.Close();
    if (port == 0) return;
    camera::test::RemoveImageFile(kFlagFile);
    unsetenv("TUNVEX_PORT");
  }
  TuningToolSession(const TuningToolSession&) = delete;
  TuningToolSession& operator=(const TuningToolSession&) = delete;

  // Connects the tool, trying again for a generous while as the server starts.
  bool Connect() {
    for (int i = 0; i < 600; ++i) {
      if (client.Connect("127.0.0.1", port)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  static constexpr const char* kFlagFile = "fs/~0x0106fa8a/_TunvexEnabled.flg";
  const uint16_t port;
  TunvexClient client;
};
