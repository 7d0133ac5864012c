#pragma once
// One client connection on the network thread: reads request lines and posts them to the
// command thread, writes what the command thread sends back.
//
// The session posts Disconnect exactly once, when reading ends (end of input, an error, or a
// client that lets too much output pile up); it closes its stream once the host asked for that
// and the queued output is written, or at once after a write error.

#include "host/lintelhost/hostinbox.h"
#include "host/lintelhost/lineassembler.h"

#include <asio.hpp>

#include <functional>
#include <memory>
#include <string>

class ClientSession : public std::enable_shared_from_this<ClientSession> {
public:
    using Handler = std::function<void(const std::error_code&, size_t)>;

    // `onClosed` runs on the network thread once the stream is closed.
    ClientSession(ClientId id, HostInbox& inbox, std::function<void(ClientId)> onClosed);
    virtual ~ClientSession() = default;
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Posts Connect and starts reading.
    void Start();
    void Send(std::string text);
    void CloseAfterFlush();
    ClientId Id() const { return id; }

    // A request line may be this long (without CR LF); longer ones are dropped.
    static constexpr size_t kMaxLine = 64 * 1024;
    // Output a client lets pile up beyond this ends its connection: it does not read.
    static constexpr size_t kMaxPending = 256u * 1024 * 1024;

protected:
    virtual void AsyncReadSome(asio::mutable_buffer buffer, Handler handler) = 0;
    virtual void AsyncWrite(asio::const_buffer buffer, Handler handler) = 0;
    virtual void CloseStream() = 0;

private:
    void Read();
    void Write();
    void ReadingEnded();
    void Close();

    ClientId id;
    HostInbox& inbox;
    std::function<void(ClientId)> onClosed;
    LineAssembler lines;
    char buffer[16 * 1024];
    std::string pending;  // queued, not yet handed to a write
    std::string inFlight; // being written
    bool writing = false;
    bool closeRequested = false;
    bool readingEnded = false;
    bool closed = false;
};
