#include "host/lintelhost/clientsession.h"

ClientSession::ClientSession(ClientId id, HostInbox& inbox, std::shared_ptr<ClientBudget> budget,
                             std::function<void(ClientId)> onClosed)
    : id(id), inbox(inbox), budget(std::move(budget)), onClosed(std::move(onClosed)),
      lines(
          kMaxLine,
          [this](std::string_view line) {
              this->budget->RequestRead(line.size());
              this->inbox.Post({HostEvent::Kind::Line, this->id, std::string(line)});
          },
          [this] {
              this->inbox.Post({HostEvent::Kind::Overlong, this->id, {}});
          }) {}

void ClientSession::Start() {
    inbox.Post({HostEvent::Kind::Connect, id, {}, budget});
    Read();
}

void ClientSession::Read() {
    if (budget->RequestsFull()) {
        // The client's requests or unread replies are at their bound: what it sends waits in
        // the system's buffers, and then in its own.
        budget->readingPaused = true;
        return;
    }
    budget->readingPaused = false;
    reading = true;
    auto self = shared_from_this();
    AsyncReadSome(asio::buffer(buffer), [self](const std::error_code& error, size_t size) {
        self->reading = false;
        if (self->closed)
            return;
        if (size > 0)
            self->lines.Feed(self->buffer, size);
        if (error) {
            self->ReadingEnded();
            return;
        }
        self->Read();
    });
}

void ClientSession::Resume() {
    if (!reading && !readingEnded && !closed && budget->readingPaused)
        Read();
}

void ClientSession::ReadingEnded() {
    if (readingEnded)
        return;
    readingEnded = true;
    // The host aborts the client's transactions and then asks to close; until then the
    // replies to lines already read still go out (a client may half-close after its requests).
    inbox.Post({HostEvent::Kind::Disconnect, id, {}});
}

void ClientSession::Send(std::string text) {
    if (closed || text.empty())
        return;
    if (budget->Unread() > ClientBudget::kCutOff) {
        // Stop serving a client that does not read; its transactions end with the disconnect.
        pending.clear();
        ReadingEnded();
        Close();
        return;
    }
    pending += text;
    if (!writing)
        Write();
}

void ClientSession::Write() {
    if (pending.empty()) {
        writing = false;
        if (closeRequested)
            Close();
        return;
    }
    writing = true;
    inFlight.swap(pending);
    pending.clear();
    auto self = shared_from_this();
    AsyncWrite(asio::buffer(inFlight), [self](const std::error_code& error, size_t) {
        if (self->closed)
            return;
        self->budget->Written(self->inFlight.size());
        // A burst for a slow reader must not stay allocated for the rest of the connection.
        if (self->inFlight.capacity() > kKeptBuffer)
            std::string().swap(self->inFlight);
        else
            self->inFlight.clear();
        if (error) {
            self->ReadingEnded();
            self->Close();
            return;
        }
        self->Resume();
        self->Write();
    });
}

void ClientSession::CloseAfterFlush() {
    closeRequested = true;
    if (!writing)
        Close();
}

void ClientSession::Close() {
    if (closed)
        return;
    closed = true;
    budget->Closed();
    ReadingEnded(); // the host learns of every end, whatever its cause
    // The owner drops its reference in onClosed; this call may still be inside a member.
    auto self = shared_from_this();
    CloseStream();
    onClosed(id);
}
