#pragma once
// The receivers of the camera's images, one list for the whole module.
//
// The camera sensor registers CImageReceivers_Deliver once with the camera library; the
// library calls it on its acquisition thread for every frame, and it hands the frame to every
// receiver in registration order. The camera machine adds and removes its receivers (the
// measurement callback, the preview, the permanent axes callback) through the sensor's
// SetPropertyData (flag, receiver).
//
// One recursive lock guards the list; delivery holds it while the receivers run. So once
// CImageReceivers_Remove has returned on another thread, that receiver is not running and is
// not called again, and its context may be freed. Receivers must not call back into the
// sensor, and nobody may add or remove receivers while holding a lock that a receiver takes.

#include "platform/vyx/cimgbuffer.h"

#include <cstddef>
#include <cstdint>

// Called with the receiver's context, the frame and the library's ImgFlag_ bits.
using CImageReceiverCallback = void (*)(void* context, const Vyx::CImgBuffer* image,
                                        uint32_t flags);

// What SetPropertyData (flag, receiver) of the camera sensors takes.
struct CImageReceiver {
    CImageReceiverCallback callback = nullptr;
    void* context = nullptr;
};

// Appends a receiver; the same pair may be added more than once and is then called as often.
// False for a null callback.
bool CImageReceivers_Add(const CImageReceiver& receiver);

// Removes the first entry whose callback and context both equal the given ones; false when
// there is none.
bool CImageReceivers_Remove(const CImageReceiver& receiver);

// Number of receivers in the list.
size_t CImageReceivers_Count();

// The module's image callback: calls every receiver with its context, the image and the flags,
// in list order. The context argument is not used (the list is module-wide).
void CImageReceivers_Deliver(void* context, const Vyx::CImgBuffer* image, uint32_t flags);
