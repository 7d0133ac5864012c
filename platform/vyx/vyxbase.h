#pragma once
// Everything a caller of the camera device library needs.

#include "platform/vyx/cimgbuffer.h"
#include "platform/vyx/cimgsensors.h"
#include "platform/vyx/csmartcamparam.h"
#include "platform/vyx/cxmlnode.h"
