#include "host/lintelhost/tcpsession.h"

TcpSession::TcpSession(asio::ip::tcp::socket socket, ClientId id, HostInbox& inbox,
                       std::shared_ptr<ClientBudget> budget, std::function<void(ClientId)> onClosed)
    : ClientSession(id, inbox, std::move(budget), std::move(onClosed)), socket(std::move(socket)) {
    std::error_code ignored;
    // Replies are small and the client waits for them.
    this->socket.set_option(asio::ip::tcp::no_delay(true), ignored);
}

void TcpSession::AsyncReadSome(asio::mutable_buffer buffer, Handler handler) {
    socket.async_read_some(buffer, std::move(handler));
}

void TcpSession::AsyncWrite(asio::const_buffer buffer, Handler handler) {
    asio::async_write(socket, buffer, std::move(handler));
}

void TcpSession::CloseStream() {
    std::error_code ignored;
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}
