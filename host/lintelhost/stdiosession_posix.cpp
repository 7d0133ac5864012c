#include "host/lintelhost/stdiosession.h"

#include <unistd.h>

struct StdioSession::Streams {
    explicit Streams(asio::io_context& io) : input(io), output(io) {}
    asio::posix::stream_descriptor input;
    asio::posix::stream_descriptor output;
};

StdioSession::StdioSession(asio::io_context& io, ClientId id, HostInbox& inbox,
                           std::shared_ptr<ClientBudget> budget,
                           std::function<void(ClientId)> onClosed)
    : ClientSession(id, inbox, std::move(budget), std::move(onClosed)),
      streams(std::make_unique<Streams>(io)) {}

StdioSession::~StdioSession() = default;

bool StdioSession::Open(std::string& error) {
    std::error_code failure;
    int in = dup(STDIN_FILENO);
    int out = dup(STDOUT_FILENO);
    if (in >= 0)
        streams->input.assign(in, failure);
    if (in < 0 || failure) {
        error = "standard input must be a pipe, terminal or socket";
        if (in >= 0 && !streams->input.is_open())
            close(in);
        if (out >= 0)
            close(out);
        return false;
    }
    if (out >= 0)
        streams->output.assign(out, failure);
    if (out < 0 || failure) {
        error = "standard output must be a pipe, terminal or socket";
        if (out >= 0 && !streams->output.is_open())
            close(out);
        return false;
    }
    return true;
}

void StdioSession::AsyncReadSome(asio::mutable_buffer buffer, Handler handler) {
    streams->input.async_read_some(buffer, std::move(handler));
}

void StdioSession::AsyncWrite(asio::const_buffer buffer, Handler handler) {
    asio::async_write(streams->output, buffer, std::move(handler));
}

void StdioSession::CloseStream() {
    std::error_code ignored;
    streams->input.close(ignored);
    streams->output.close(ignored);
}
