// SPDX-License-Identifier: MIT
#pragma once
// What bench_scpi drives merovask-scpi with: a VISA client's socket.

#include <QtGlobal>

#include <string>

namespace bench {

// A VISA client's socket: blocking, Nagle off, one line per message each way.
class Client {
  public:
    explicit Client(quint16 port);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool ok() const { return ok_; }

    void send(const std::string& message);
    // The next answer without its LF; empty when the connection ended.
    std::string line();
    std::string ask(const std::string& message);

  private:
    int fd_ = -1;
    bool ok_ = false;
    std::string buffer_;
};

} // namespace bench
