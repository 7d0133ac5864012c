#pragma once
// The network side: the listening socket on 127.0.0.1 (or the one standard-input client),
// the client sessions, and SIGINT/SIGTERM, all on the thread that calls Run. The command
// thread reaches it through ReplySink, whose calls are posted to that thread.

#include "host/lintelhost/hostinbox.h"
#include "host/lintelhost/replysink.h"

#include <asio.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

class ClientSession;

class HostServer : public ReplySink {
public:
    explicit HostServer(HostInbox& inbox);
    ~HostServer() override;

    // Listens on 127.0.0.1:port (0: a free port); false with the reason in `error`.
    bool Listen(uint16_t port, std::string& error);
    uint16_t Port() const { return port; }
    // Serves one client on standard input and output; the service ends with it.
    bool ServeStdio(std::string& error);
    // Serves until Stop has closed every connection.
    void Run();

    void Send(ClientId client, std::string text) override;
    void Served(ClientId client) override;
    void Close(ClientId client) override;
    void Stop() override;

    // At most this many clients at once; the next one is told and closed.
    static constexpr size_t kMaxClients = 64;

private:
    void Accept();
    void WaitForSignal();
    void Closed(ClientId client);
    std::shared_ptr<ClientBudget> NewBudget();

    HostInbox& inbox;
    std::atomic<size_t> unreadTotal{0}; // of every client's budget; outlives them
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor;
    asio::signal_set signals;
    asio::steady_timer stopTimer;
    std::map<ClientId, std::shared_ptr<ClientSession>> sessions;
    ClientId nextId = 1;
    uint16_t port = 0;
    bool stdio = false;
    bool stopping = false;
    bool shutdownPosted = false;
};
