#include "platform/vyx/genicam/genicamsession.h"

#include <arv.h>

#include <chrono>
#include <cstdio>

namespace Vyx::genicam {

namespace {

uint64_t MonotonicNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void StreamEvent(void* session, ArvStreamCallbackType type, ArvBuffer*) {
    static_cast<CGenicamSession*>(session)->OnStreamEvent(type);
}

} // namespace

CGenicamSession::CGenicamSession(const SessionSetup& setup)
    : m_setup(setup), m_numbering(setup.incompleteAsLost) {}

std::unique_ptr<CGenicamSession> CGenicamSession::Create(const SessionSetup& setup,
                                                         std::string& error) {
    std::unique_ptr<CGenicamSession> session(new CGenicamSession(setup));
    GError* failure = nullptr;
    ArvStream* stream =
        arv_camera_create_stream(setup.camera, StreamEvent, session.get(), &failure);
    if (stream == nullptr) {
        error = failure != nullptr ? failure->message : "no stream";
        g_clear_error(&failure);
        return nullptr;
    }
    if (ARV_IS_GV_STREAM(stream)) {
        // Set before the first frame, which is when the stream sizes its socket buffer.
        const NetworkOptions& network = setup.network;
        if (network.socketBufferBytes == 0)
            g_object_set(stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, nullptr);
        else
            g_object_set(stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_FIXED,
                         "socket-buffer-size", gint(network.socketBufferBytes), nullptr);
        g_object_set(stream, "packet-resend",
                     network.packetResend ? ARV_GV_STREAM_PACKET_RESEND_ALWAYS
                                          : ARV_GV_STREAM_PACKET_RESEND_NEVER,
                     nullptr);
    }
    // The memory is the camera object's: Aravis wraps it and never frees it.
    session->m_stream.store(stream);
    for (uint8_t* block : setup.memory)
        arv_stream_push_buffer(stream, arv_buffer_new(setup.bufferBytes, block));
    return session;
}

CGenicamSession::~CGenicamSession() {
    m_deliverable.store(false);
    // Dropping the stream joins its thread and frees the buffer objects (not their memory).
    if (ArvStream* stream = m_stream.load())
        g_object_unref(stream);
}

void CGenicamSession::Halt() {
    m_deliverable.store(false);
    m_setup.receivers->Halt();
}

void CGenicamSession::OnStreamEvent(int type) {
    if (type != ARV_STREAM_CALLBACK_TYPE_BUFFER_DONE)
        return;
    // Every finished buffer is in the output queue by now; take all that are there, in order.
    ArvStream* stream = m_stream.load();
    while (ArvBuffer* buffer = arv_stream_try_pop_buffer(stream)) {
        Handle(buffer);
        arv_stream_push_buffer(stream, buffer);
    }
}

bool CGenicamSession::Statistics(CStreamStatistics& statistics) const {
    ArvStream* stream = m_stream.load();
    if (stream == nullptr || !ARV_IS_GV_STREAM(stream))
        return false;
    guint64 resent = 0, missing = 0;
    arv_gv_stream_get_statistics(ARV_GV_STREAM(stream), &resent, &missing);
    statistics.resentPackets = resent;
    statistics.missingPackets = missing;
    statistics.receivedPackets = arv_stream_get_info_uint64_by_name(stream, "n_received_packets");
    ArvGvStreamSocketBuffer buffer = ARV_GV_STREAM_SOCKET_BUFFER_FIXED;
    ArvGvStreamPacketResend resend = ARV_GV_STREAM_PACKET_RESEND_NEVER;
    gint bytes = 0;
    g_object_get(stream, "socket-buffer", &buffer, "socket-buffer-size", &bytes, "packet-resend",
                 &resend, nullptr);
    char buffered[64];
    if (buffer == ARV_GV_STREAM_SOCKET_BUFFER_AUTO)
        snprintf(buffered, sizeof buffered, "of one frame (%zu bytes)", m_setup.network.frameBytes);
    else
        snprintf(buffered, sizeof buffered, "%d bytes", bytes);
    statistics.setup = m_setup.network.description + ", socket buffer " + buffered +
                       ", packet resend " +
                       (resend == ARV_GV_STREAM_PACKET_RESEND_ALWAYS ? "on" : "off");
    return true;
}

CGenicamSession::Image CGenicamSession::Describe(ArvBuffer* buffer) const {
    const PixelFormatInfo& format = *m_setup.format;
    Image image;
    if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS)
        return image;
    const ArvBufferPayloadType payload = arv_buffer_get_payload_type(buffer);
    if (payload != ARV_BUFFER_PAYLOAD_TYPE_IMAGE &&
        payload != ARV_BUFFER_PAYLOAD_TYPE_EXTENDED_CHUNK_DATA)
        return image;
    if (arv_buffer_get_image_pixel_format(buffer) != format.pfnc)
        return image;
    const gint width = arv_buffer_get_image_width(buffer);
    const gint height = arv_buffer_get_image_height(buffer);
    gint paddingX = 0, paddingY = 0;
    arv_buffer_get_image_padding(buffer, &paddingX, &paddingY);
    if (width <= 0 || height <= 0 || paddingX < 0 || paddingX % int(format.bytesPerPixel) != 0)
        return image;
    // The camera reads out the clipping region only: the frame is the region, row after row.
    const uint64_t pitch = uint64_t(width) + uint64_t(paddingX) / format.bytesPerPixel;
    size_t size = 0;
    const void* data = arv_buffer_get_image_data(buffer, &size);
    if (data == nullptr ||
        size < (pitch * uint64_t(height - 1) + uint64_t(width)) * format.bytesPerPixel)
        return image;
    image.pixels = static_cast<const uint8_t*>(data);
    image.rowPitch = pitch;
    image.width = uint64_t(width);
    image.height = uint64_t(height);
    return image;
}

void CGenicamSession::Handle(ArvBuffer* buffer) {
    const uint64_t arrival = MonotonicNs();
    const Image image = Describe(buffer);
    const bool whole = image.pixels != nullptr;
    const CFrameNumbering::Frame frame =
        whole ? m_numbering.Complete(arv_buffer_get_frame_id(buffer)) : m_numbering.Incomplete();
    if (!frame.deliver)
        return;
    // The record of 16 frames ago is the one to reuse; it is not touched before.
    CImgBuffer& record = (*m_setup.records)[m_nextRecord];
    m_nextRecord = (m_nextRecord + 1) % kRecordCount;
    const PixelFormatInfo& format = *m_setup.format;
    record.pixelFormat = format.code;
    record.bitsPerPixel = format.bitsPerPixel;
    record.bytesPerPixel = format.bytesPerPixel;
    record.offsetX = record.offsetY = 0;
    record.rowPitch = whole ? image.rowPitch : m_setup.width;
    record.rows = whole ? image.height : m_setup.height;
    record.clipWidth = whole ? image.width : m_setup.width;
    record.clipHeight = whole ? image.height : m_setup.height;
    record.pixels = image.pixels;
    record.frameCounter = frame.counter;
    record.timeStampKind = TimeStamp_Nanoseconds;
    // The stamp of a broken frame may be that of the frame its buffer held before.
    record.timeStamp = m_clock.Stamp(whole ? arv_buffer_get_timestamp(buffer) : 0, arrival);
    double celsius = 0;
    if (m_setup.temperature && m_setup.temperature(celsius))
        record.attributes[ImgAttr_Temperature] = ImgAttribute(celsius, celsius);
    else if (!record.attributes.empty())
        record.attributes.clear();
    m_setup.receivers->Deliver(record, frame.flags, m_deliverable);
}

} // namespace Vyx::genicam
