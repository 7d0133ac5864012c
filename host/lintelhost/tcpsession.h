#pragma once
// A client session on a TCP connection.

#include "host/lintelhost/clientsession.h"

class TcpSession : public ClientSession {
public:
    TcpSession(asio::ip::tcp::socket socket, ClientId id, HostInbox& inbox,
               std::shared_ptr<ClientBudget> budget, std::function<void(ClientId)> onClosed);

protected:
    void AsyncReadSome(asio::mutable_buffer buffer, Handler handler) override;
    void AsyncWrite(asio::const_buffer buffer, Handler handler) override;
    void CloseStream() override;

private:
    asio::ip::tcp::socket socket;
};
