#pragma once
// Abstract lock, so that code can take "some lock" without knowing its kind.

namespace varn {

class Lockable {
public:
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    // True when the lock was taken without waiting.
    virtual bool TryLock() = 0;
    virtual ~Lockable();

    // The standard names, so that std::lock_guard and std::unique_lock can hold any Lockable.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    bool try_lock() { return TryLock(); }
};

} // namespace varn
