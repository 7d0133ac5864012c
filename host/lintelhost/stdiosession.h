#pragma once
// The one client session of --stdio: requests on standard input, replies on standard output.
// Both must be pipes, terminals or sockets (the event loop cannot wait on a plain file).

#include "host/lintelhost/clientsession.h"

class StdioSession : public ClientSession {
public:
    StdioSession(asio::io_context& io, ClientId id, HostInbox& inbox,
                 std::function<void(ClientId)> onClosed);
    // False with the reason when standard input or output cannot be served.
    bool Open(std::string& error);

protected:
    void AsyncReadSome(asio::mutable_buffer buffer, Handler handler) override;
    void AsyncWrite(asio::const_buffer buffer, Handler handler) override;
    void CloseStream() override;

private:
    asio::posix::stream_descriptor input;
    asio::posix::stream_descriptor output;
};
