#include "host/lintelhost/hostserver.h"

#include "host/lintelhost/stdiosession.h"
#include "host/lintelhost/tcpsession.h"

#include <csignal>

namespace {

// How long connections may take to write their last lines at the end.
constexpr std::chrono::seconds kStopGrace{5};

} // namespace

HostServer::HostServer(HostInbox& inbox)
    : inbox(inbox), acceptor(io), signals(io, SIGINT, SIGTERM), stopTimer(io) {}

HostServer::~HostServer() = default;

bool HostServer::Listen(uint16_t wanted, std::string& error) {
    std::error_code failure;
    asio::ip::tcp::endpoint endpoint(asio::ip::address_v4::loopback(), wanted);
    acceptor.open(endpoint.protocol(), failure);
    if (!failure)
        acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), failure);
    if (!failure)
        acceptor.bind(endpoint, failure);
    if (!failure)
        acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(wanted) + ": " + failure.message();
        return false;
    }
    port = acceptor.local_endpoint(failure).port();
    Accept();
    return true;
}

bool HostServer::ServeStdio(std::string& error) {
    auto session = std::make_shared<StdioSession>(io, nextId++, inbox, NewBudget(),
                                                  [this](ClientId id) { Closed(id); });
    if (!session->Open(error))
        return false;
    stdio = true;
    sessions[session->Id()] = session;
    session->Start();
    return true;
}

void HostServer::Run() {
    WaitForSignal();
    io.run();
}

void HostServer::WaitForSignal() {
    signals.async_wait([this](const std::error_code& error, int) {
        if (error)
            return;
        if (!shutdownPosted) {
            shutdownPosted = true;
            inbox.Post({HostEvent::Kind::Shutdown, 0, {}});
        }
        // Later signals are taken too, so that they cannot kill the host halfway.
        WaitForSignal();
    });
}

void HostServer::Accept() {
    acceptor.async_accept([this](const std::error_code& error, asio::ip::tcp::socket socket) {
        if (error) {
            if (error != asio::error::operation_aborted && acceptor.is_open())
                Accept();
            return;
        }
        if (sessions.size() >= kMaxClients) {
            static const char refusal[] = "0000\terror \"too many clients\"\r\n";
            std::error_code ignored;
            asio::write(socket, asio::buffer(refusal, sizeof refusal - 1), ignored);
            socket.close(ignored);
        } else {
            auto session =
                std::make_shared<TcpSession>(std::move(socket), nextId++, inbox, NewBudget(),
                                             [this](ClientId id) { Closed(id); });
            sessions[session->Id()] = session;
            session->Start();
        }
        Accept();
    });
}

void HostServer::Send(ClientId client, std::string text) {
    asio::post(io, [this, client, text = std::move(text)]() mutable {
        auto it = sessions.find(client);
        if (it != sessions.end())
            it->second->Send(std::move(text));
    });
}

void HostServer::Served(ClientId client) {
    asio::post(io, [this, client] {
        auto it = sessions.find(client);
        if (it != sessions.end())
            it->second->Resume();
    });
}

std::shared_ptr<ClientBudget> HostServer::NewBudget() {
    return std::make_shared<ClientBudget>(unreadTotal);
}

void HostServer::Close(ClientId client) {
    asio::post(io, [this, client] {
        auto it = sessions.find(client);
        if (it != sessions.end())
            it->second->CloseAfterFlush();
    });
}

void HostServer::Stop() {
    asio::post(io, [this] {
        stopping = true;
        std::error_code ignored;
        acceptor.close(ignored);
        signals.cancel(ignored);
        if (sessions.empty()) {
            stopTimer.cancel();
            return;
        }
        stopTimer.expires_after(kStopGrace);
        stopTimer.async_wait([this](const std::error_code& error) {
            if (!error)
                io.stop(); // a client that does not take its last lines
        });
        // Closing removes from the map: close a copy.
        auto open = sessions;
        for (auto& [id, session] : open)
            session->CloseAfterFlush();
    });
}

void HostServer::Closed(ClientId client) {
    sessions.erase(client);
    if (stdio && !shutdownPosted) {
        // The one client is gone: so is the service.
        shutdownPosted = true;
        inbox.Post({HostEvent::Kind::Shutdown, 0, {}});
    }
    if (stopping && sessions.empty())
        stopTimer.cancel();
}
