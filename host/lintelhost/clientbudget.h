#pragma once
// What one client holds of the host's memory, seen from both threads: the requests the
// network thread has read and the command thread not yet served, and the reply bytes the
// command thread has produced and the network thread not yet written. A client over its
// bounds is not read from (network thread) and gets no new replies (command thread) until it
// reads; the bound of all clients together keeps a few greedy clients from filling memory.

#include <atomic>
#include <cstddef>
#include <mutex>

class ClientBudget {
public:
    // Per client.
    static constexpr size_t kMaxPendingRequests = 1024;
    static constexpr size_t kMaxPendingRequestBytes = 1u << 20;
    static constexpr size_t kMaxUnread = 16u << 20;
    // All clients together: beyond this, every client holding more than its share waits.
    static constexpr size_t kMaxUnreadTotal = 64u << 20;
    static constexpr size_t kShareWhenCrowded = 1u << 20;
    // A client this far over its bound is cut off: it gets lines that no bound holds back
    // (events for everyone) and has read none of them.
    static constexpr size_t kCutOff = 4 * kMaxUnread;

    explicit ClientBudget(std::atomic<size_t>& unreadTotal) : unreadTotal(unreadTotal) {}
    ~ClientBudget() { Closed(); }
    ClientBudget(const ClientBudget&) = delete;
    ClientBudget& operator=(const ClientBudget&) = delete;

    void RequestRead(size_t bytes) {
        ++pendingRequests;
        pendingRequestBytes += bytes;
    }
    void RequestServed(size_t bytes) {
        --pendingRequests;
        pendingRequestBytes -= bytes;
    }
    // What the command thread hands to the network thread, and what that one wrote.
    void Queued(size_t bytes) {
        std::lock_guard<std::mutex> guard(lock);
        if (closed)
            return;
        unread += bytes;
        unreadTotal += bytes;
    }
    void Written(size_t bytes) {
        std::lock_guard<std::mutex> guard(lock);
        if (closed)
            return;
        unread -= bytes;
        unreadTotal -= bytes;
    }
    // The connection is closed: nothing queued will be written, nothing new is counted.
    void Closed() {
        std::lock_guard<std::mutex> guard(lock);
        if (closed)
            return;
        closed = true;
        unreadTotal -= unread.exchange(0);
    }

    // The network thread reads no more requests.
    bool RequestsFull() const {
        return pendingRequests.load() >= kMaxPendingRequests ||
               pendingRequestBytes.load() >= kMaxPendingRequestBytes || RepliesFull();
    }
    // The command thread makes no more replies; `extra` it holds already.
    bool RepliesFull(size_t extra = 0) const {
        const size_t mine = unread.load() + extra;
        return mine >= kMaxUnread ||
               (mine >= kShareWhenCrowded && unreadTotal.load() >= kMaxUnreadTotal);
    }
    size_t Unread() const { return unread.load(); }

    // Set by the network thread while it does not read; the command thread then tells it when
    // it has served requests.
    std::atomic<bool> readingPaused{false};

private:
    std::atomic<size_t> pendingRequests{0};
    std::atomic<size_t> pendingRequestBytes{0};
    std::atomic<size_t> unread{0};
    std::atomic<size_t>& unreadTotal;
    std::mutex lock; // orders the counts against Closed
    bool closed = false;
};
