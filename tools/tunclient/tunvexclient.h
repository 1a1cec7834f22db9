// Client side of the tuning protocol: one connection to a tuning server, and
// the operations of the PC tuning tool over it (list with paging, read and
// write element texts, version, apply).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tunvexprotocol.h"

class TunvexClient {
 public:
  TunvexClient() = default;
  ~TunvexClient();
  TunvexClient(const TunvexClient&) = delete;
  TunvexClient& operator=(const TunvexClient&) = delete;

  // Connects and takes the server's 6-byte acknowledgement.
  bool Connect(const std::string& host, uint16_t port);
  void Close();
  bool Connected() const { return m_fd >= 0; }
  // Every wait for the server (connect, each reply) ends after this long.
  void SetTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
  const std::string& Error() const { return m_error; }

  // One request and its whole reply. `success` is the reply's first byte,
  // `response` the response block that follows it.
  bool Exchange(const std::vector<uint8_t>& request, uint16_t code, bool* success, std::vector<uint8_t>* response);

  bool Version(std::string* version);
  // Every listed item, page after page.
  bool ListAll(std::vector<tunvex::ListEntry>* items);
  // One listed item without listing them all: by Id the page that starts at
  // it, by name the pages up to the first match. `item` is empty when the
  // server lists no such item (hidden, a summary item, or none at all).
  bool FindById(uint16_t id, std::optional<tunvex::ListEntry>* item);
  bool FindByName(const std::string& name, std::optional<tunvex::ListEntry>* item);
  // One text per reference, nothing for an element the server would not
  // answer. Asks again from where a partial answer stopped.
  bool Get(const std::vector<tunvex::ParmRef>& refs, std::vector<std::optional<std::string>>* texts,
           bool* changesPending);
  // The server does not say which writes failed; read the values back to know.
  bool Set(const std::vector<tunvex::ParmWrite>& writes, bool* changesPending);
  // The server answers success even when the engine refused: the changes then
  // stay pending.
  bool Apply(bool* changesPending);

 private:
  // Hands the listed entries from Id `first` on to `visit`, page after page,
  // until it answers true or the list ends.
  bool Walk(uint16_t first, const std::function<bool(tunvex::ListEntry&)>& visit);
  bool SendAll(const uint8_t* data, size_t size);
  bool ReceiveAll(uint8_t* data, size_t size);
  bool Fail(const std::string& what);

  int m_fd = -1;
  bool m_started = false;
  int m_timeoutMs = 10000;
  std::string m_error;
};
