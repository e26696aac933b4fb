// The control channel: a Unix stream socket taking one command per line and
// answering each with one line.
#pragma once

#include <poll.h>

#include <functional>
#include <string>
#include <vector>

namespace zrsim {

class ControlServer {
  public:
    using Handler = std::function<std::string(const std::string& line)>;

    // Throws std::runtime_error when the path cannot be served. A stale socket
    // left at `path` is replaced; any other file there is left alone.
    ControlServer(std::string path, Handler handler);
    ~ControlServer();  // closes the clients and removes the socket file
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Descriptors to wait on, then handle whatever became ready.
    void addPollDescriptors(std::vector<pollfd>& fds) const;
    void handle(const std::vector<pollfd>& fds);

  private:
    struct Client {
        int fd = -1;
        std::string pending;  // bytes of an unfinished line
    };
    void accept();
    bool serve(Client& client);  // false when the client is gone

    std::string path_;
    Handler handler_;
    int listener_ = -1;
    std::vector<Client> clients_;
};

}  // namespace zrsim
