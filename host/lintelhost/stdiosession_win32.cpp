// Windows cannot wait on the standard handles a parent hands over (anonymous pipes and consoles
// are not overlapped), so the event loop cannot serve them: --stdio is refused there, and
// clients connect over TCP.

#include "host/lintelhost/stdiosession.h"

struct StdioSession::Streams {};

StdioSession::StdioSession(asio::io_context&, ClientId id, HostInbox& inbox,
                           std::shared_ptr<ClientBudget> budget,
                           std::function<void(ClientId)> onClosed)
    : ClientSession(id, inbox, std::move(budget), std::move(onClosed)) {}

StdioSession::~StdioSession() = default;

bool StdioSession::Open(std::string& error) {
    error = "not available on Windows (its standard handles cannot be waited on); use --port";
    return false;
}

void StdioSession::AsyncReadSome(asio::mutable_buffer, Handler handler) {
    handler(asio::error::operation_not_supported, 0);
}

void StdioSession::AsyncWrite(asio::const_buffer, Handler handler) {
    handler(asio::error::operation_not_supported, 0);
}

void StdioSession::CloseStream() {}
