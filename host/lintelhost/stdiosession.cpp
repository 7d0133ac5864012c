#include "host/lintelhost/stdiosession.h"

#include <unistd.h>

StdioSession::StdioSession(asio::io_context& io, ClientId id, HostInbox& inbox,
                           std::function<void(ClientId)> onClosed)
    : ClientSession(id, inbox, std::move(onClosed)), input(io), output(io) {}

bool StdioSession::Open(std::string& error) {
    std::error_code failure;
    int in = dup(STDIN_FILENO);
    int out = dup(STDOUT_FILENO);
    if (in >= 0)
        input.assign(in, failure);
    if (in < 0 || failure) {
        error = "standard input must be a pipe, terminal or socket";
        if (in >= 0 && !input.is_open())
            close(in);
        if (out >= 0)
            close(out);
        return false;
    }
    if (out >= 0)
        output.assign(out, failure);
    if (out < 0 || failure) {
        error = "standard output must be a pipe, terminal or socket";
        if (out >= 0 && !output.is_open())
            close(out);
        return false;
    }
    return true;
}

void StdioSession::AsyncReadSome(asio::mutable_buffer buffer, Handler handler) {
    input.async_read_some(buffer, std::move(handler));
}

void StdioSession::AsyncWrite(asio::const_buffer buffer, Handler handler) {
    asio::async_write(output, buffer, std::move(handler));
}

void StdioSession::CloseStream() {
    std::error_code ignored;
    input.close(ignored);
    output.close(ignored);
}
