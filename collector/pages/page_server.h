// The pages served by the collector itself (cpp-httplib), next to the receiver: the crash groups,
// a page per group and per crash with the crash's files, and the telemetry. Every request reads
// the store through a read-only connection of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace collector {

class PageServer {
 public:
  // Binds at once (port 0: an ephemeral one); serving starts with Start.
  static std::unique_ptr<PageServer> Bind(const std::string& address, uint16_t port, const std::string& db_path,
                                          std::string* error);
  ~PageServer();

  uint16_t port() const { return port_; }
  void Start();

 private:
  PageServer() = default;
  std::unique_ptr<httplib::Server> server_;
  std::string db_path_;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace collector
