#include "mt_proxy/camera/misc/cimagereceivers.h"

#include "msl/mipc/threadmutex.h"

#include <mutex>
#include <vector>

namespace {

struct ReceiverList {
    varn::ThreadMutex lock;
    std::vector<CImageReceiver> entries;
};

// Built on first use, so that the list exists before any static sensor and outlives none.
ReceiverList& List() {
    static ReceiverList list;
    return list;
}

} // namespace

bool CImageReceivers_Add(const CImageReceiver& receiver) {
    if (receiver.callback == nullptr)
        return false;
    ReceiverList& list = List();
    std::lock_guard<varn::ThreadMutex> guard(list.lock);
    list.entries.push_back(receiver);
    return true;
}

bool CImageReceivers_Remove(const CImageReceiver& receiver) {
    ReceiverList& list = List();
    std::lock_guard<varn::ThreadMutex> guard(list.lock);
    for (auto it = list.entries.begin(); it != list.entries.end(); ++it) {
        if (it->callback == receiver.callback && it->context == receiver.context) {
            list.entries.erase(it);
            return true;
        }
    }
    return false;
}

size_t CImageReceivers_Count() {
    ReceiverList& list = List();
    std::lock_guard<varn::ThreadMutex> guard(list.lock);
    return list.entries.size();
}

void CImageReceivers_Deliver(void* /*context*/, const Vyx::CImgBuffer* image, uint32_t flags) {
    ReceiverList& list = List();
    std::lock_guard<varn::ThreadMutex> guard(list.lock);
    // By index and by copy: a receiver that breaks the rule and changes the list from inside
    // its call (the lock is recursive) must not leave us on a dangling iterator.
    for (size_t i = 0; i < list.entries.size(); ++i) {
        const CImageReceiver receiver = list.entries[i];
        receiver.callback(receiver.context, image, flags);
    }
}
