// The camera machine's image FIFO factories and the image geometry of its probesystems, which
// sizes the FIFOs' blocks.

#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "lintel/server/commands/moutputchannel.h"
#include "msl/mutil/minidata.h"
#include "mt_proxy/camera/mmachabstract/mcameracommands.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <limits>

MMachImagefifoCreateCommand*
MCameraMachAbstract::NewMMachImagefifoCreateCommand(MOutputChannel* out,
                                                    const std::string& fifoName, uint64_t size) {
    return new MCameraImagefifoCreateCommand(out, this, fifoName, size, always64);
}

// The active FIFO is deselected when the command deletes it: not when a running measurement
// keeps it.
MMachImagefifoDeleteCommand*
MCameraMachAbstract::NewMMachImagefifoDeleteCommand(MOutputChannel* out,
                                                    const std::string& fifoName) {
    return new MCameraImagefifoDeleteCommand(out, this, fifoName);
}

MMachImagefifoResetCommand*
MCameraMachAbstract::NewMMachImagefifoResetCommand(MOutputChannel* out) {
    return new MCameraImagefifoResetCommand(out, this);
}

// A running measurement goes on writing into (and dropping lines from) the FIFO it started
// with: a new selection is the next measurement's.
MMachImagefifoSelectCommand*
MCameraMachAbstract::NewMMachImagefifoSelectCommand(MOutputChannel* out,
                                                    const std::string& fifoName) {
    SetActiveImageFifo(fifoName);
    return new MCameraImagefifoSelectCommand(out, fifoName);
}

void MCameraMachAbstract::SetActiveImageFifo(const std::string& fifoName) {
    axes.SetValue("imageindex", 0.0);
    activeImageFifoName = fifoName;
    MTRACE(5, "SetActiveImageFifo(): active image fifo is now \"%s\"", fifoName.c_str());
}

bool MCameraMachAbstract::get_image_info(const std::string& probesystem, MCameraImageInfo& info) {
    std::string text;
    if (!probeManager.GetHardwareData(text, probesystem)) {
        MERRTRACE("get_image_info(): failed to get hardware information");
        return false;
    }
    MIniData hardware;
    if (!hardware.SetContentString(text)) {
        MERRTRACE("get_image_info(): failed set configuration data");
        return false;
    }
    if (!hardware.HasSection("Camera")) {
        MERRTRACE(
            "get_image_info(): section \"Camera\" not found. Is current probesystem a camera?");
        return false;
    }
    MCameraImageInfo read;
    const struct {
        const char* key;
        uint32_t& value;
        const char* missing;
    } entries[] = {
        {"mem_bpp", read.memBytesPerPixel,
         "get_image_info(): entry \"mem_bpp\" [Camera] does not exist"},
        {"clipsize_x", read.clipWidth,
         "get_image_info(): entry clipsize_x [Camera] does not exist"},
        {"clipsize_y", read.clipHeight,
         "get_image_info(): entry clipsize_y [Camera] does not exist"},
        {"clip_x", read.clipX, "get_image_info(): entry clip_x [Camera] does not exist"},
        {"clip_y", read.clipY, "get_image_info(): entry clip_y [Camera] does not exist"},
        {"img_width", read.imgWidth,
         "get_image_info(): entry \"img_width\" [Camera] does not exist"},
        {"img_height", read.imgHeight,
         "get_image_info(): entry \"img_height\" [Camera] does not exist"},
        {"mem_width", read.memWidth,
         "get_image_info(): entry \"mem_width\" [Camera] does not exist"},
        {"mem_height", read.memHeight,
         "get_image_info(): entry \"mem_height\" [Camera] does not exist"},
    };
    for (const auto& entry : entries) {
        long long value = 0;
        if (!hardware.GetLongLongEntry("Camera", entry.key, value)) {
            MERRTRACE("%s", entry.missing);
            return false;
        }
        entry.value = static_cast<uint32_t>(value);
    }
    if (read.clipWidth == 0)
        read.clipWidth = read.imgWidth;
    if (read.clipHeight == 0)
        read.clipHeight = read.imgHeight;
    info = read;
    return true;
}

bool MCameraMachAbstract::get_image_memory_info(const std::string& probesystem, uint32_t& width,
                                                uint32_t& height, uint32_t& bytesPerPixel) {
    MCameraImageInfo info;
    if (!get_image_info(probesystem, info)) {
        MERRTRACE("get_image_memory_info(): get_image_info() failed");
        return false;
    }
    width = info.clipWidth;
    height = info.clipHeight;
    bytesPerPixel = info.memBytesPerPixel;
    return true;
}

void MCameraMachAbstract::GetProbesystemImageInfo(MMachImageInfo& info) {
    info = MMachImageInfo{};
    uint32_t width = 0, height = 0, bytesPerPixel = 0;
    if (!get_image_memory_info(GetActiveProbesystem(), width, height, bytesPerPixel)) {
        MERRTRACE("GetProbesystemImageInfo(): failed to get image dimensions");
        return;
    }
    info.width = width;
    info.height = height;
    info.bytesPerPixel = bytesPerPixel;
}

MMachProbesystemType MCameraMachAbstract::GetActiveProbesystemType() {
    MMachProbesystemType type;
    MCameraImageInfo info;
    if (!get_image_info(GetActiveProbesystem(), info)) {
        MERRTRACE("NewMMachProbesystemTypeCommand(): get_image_info() failed");
        return type;
    }
    std::string text;
    if (!probeManager.GetHardwareData(text)) {
        MERRTRACE("%s(): GetHardwareData() failed",
                  "MCameraMachAbstract::GetActiveProbesystemType");
        return type;
    }
    MIniData hardware;
    if (!hardware.SetContentString(text)) {
        MERRTRACE("get_image_memory_info(): SetContentString() failed");
        return type;
    }
    double pixelWidth = 0.0, pixelHeight = 0.0;
    if (!hardware.GetDoubleEntry("Camera", "px_width_mm", pixelWidth) ||
        !hardware.GetDoubleEntry("Camera", "px_height_mm", pixelHeight)) {
        MERRTRACE("get_image_memory_info(): GetDoubleEntry() failed");
        return type;
    }
    const double scale = get_zoom();
    type.width = info.imgWidth;
    type.widthMm = pixelWidth * (info.imgWidth * scale);
    if (info.imgHeight > 1) {
        type.height = info.imgHeight;
        type.heightMm = pixelHeight * (info.imgHeight * scale);
        type.kind = MMachProbesystemType::kAreaCamera;
    } else {
        type.kind = MMachProbesystemType::kLineCamera;
    }
    return type;
}
