#pragma once
// The one client session of --stdio: requests on standard input, replies on standard output
// (stdiosession_posix.cpp; Windows refuses it, stdiosession_win32.cpp). Both must be pipes,
// terminals or sockets (the event loop cannot wait on a plain file).

#include "host/lintelhost/clientsession.h"

#include <memory>

class StdioSession : public ClientSession {
public:
    StdioSession(asio::io_context& io, ClientId id, HostInbox& inbox,
                 std::shared_ptr<ClientBudget> budget, std::function<void(ClientId)> onClosed);
    ~StdioSession() override;
    // False with the reason when standard input or output cannot be served.
    bool Open(std::string& error);

protected:
    void AsyncReadSome(asio::mutable_buffer buffer, Handler handler) override;
    void AsyncWrite(asio::const_buffer buffer, Handler handler) override;
    void CloseStream() override;

private:
    struct Streams; // the system's stream objects for standard input and output
    std::unique_ptr<Streams> streams;
};
