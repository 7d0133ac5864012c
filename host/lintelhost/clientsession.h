#pragma once
// One client connection on the network thread: reads request lines and posts them to the
// command thread, writes what the command thread sends back.
//
// The session posts Disconnect exactly once, when reading ends (end of input, an error, or a
// client that lets far too much output pile up); it closes its stream once the host asked for
// that and the queued output is written, or at once after a write error. It stops reading
// while the client's budget is full, and goes on once its replies are written or its requests
// served (Resume).

#include "host/lintelhost/clientbudget.h"
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
    ClientSession(ClientId id, HostInbox& inbox, std::shared_ptr<ClientBudget> budget,
                  std::function<void(ClientId)> onClosed);
    virtual ~ClientSession() = default;
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Posts Connect and starts reading.
    void Start();
    void Send(std::string text);
    // Reads again when the budget allows it.
    void Resume();
    void CloseAfterFlush();
    ClientId Id() const { return id; }

    // A request line may be this long (without CR LF); longer ones are dropped.
    static constexpr size_t kMaxLine = 64 * 1024;
    // Write buffers larger than this are freed once written.
    static constexpr size_t kKeptBuffer = 256 * 1024;

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
    std::shared_ptr<ClientBudget> budget;
    std::function<void(ClientId)> onClosed;
    LineAssembler lines;
    char buffer[16 * 1024];
    std::string pending;  // queued, not yet handed to a write
    std::string inFlight; // being written
    bool writing = false;
    bool reading = false; // a read is in flight
    bool closeRequested = false;
    bool readingEnded = false;
    bool closed = false;
};
