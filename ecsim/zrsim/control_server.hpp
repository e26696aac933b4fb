// The control channel: a Unix stream socket taking one command per line and
// answering each with one line.
#pragma once

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

    // Readable while a connection or a command waits; handle() then serves
    // whatever is ready, without waiting.
    int fd() const { return ready_; }
    void handle();

  private:
    struct Client {
        int fd = -1;
        std::string pending;  // bytes of an unfinished line
    };
    bool watch(int fd);
    void accept();
    bool serve(Client& client);  // false when the client is gone

    std::string path_;
    Handler handler_;
    int listener_ = -1;
    int ready_ = -1;  // an epoll set of the listener and the clients
    std::vector<Client> clients_;
};

}  // namespace zrsim
