#pragma once
// Library-internal parts shared by the transport, the reader and the client: the process-wide
// events, the hand-over buffers and the frame assembly of the reader.

#include <cstddef>
#include <memory>

#include "Platform.h"
#include "corvex/Corvex.h"

namespace corvex {

// The reader's process-wide events. One set per process, shared by every reader that holds
// it; the last holder lets it go.
struct ProcessEvents {
    ManualEvent stop;
    ManualEvent response;
    ManualEvent started;
    ManualEvent upload;
};

// Takes hold of the process-wide events, creating them when none exist; all four are clear
// afterwards. Null when they cannot be created.
std::shared_ptr<ProcessEvents> AcquireEvents();
// The current set, or null when no reader holds one.
std::shared_ptr<ProcessEvents> CurrentEvents();

// Hand-over buffers, copied in and out under one lock: the newest frame of each class wins.
void StoreResponse(const unsigned char* frame, size_t len);
// Copies the stored response frame (up to FRAME_BUFFER_SIZE bytes, zeros after it) into
// dst and returns its PDU length field.
unsigned CopyResponse(unsigned char* dst);
void StoreUpload(const unsigned char* frame, size_t len);
// Looks for the upload marker at offsets 0-19 of the upload buffer; when found at offset i,
// copies the UPLOAD_BUFFER_SIZE - i bytes from there to dst and returns i, else returns -1.
int TakeUpload(unsigned char* dst);

// Class of a complete frame held in a FRAME_BUFFER_SIZE buffer whose unused tail is zero.
FrameClass Classify(const unsigned char* frame);

// Hands a complete frame on by its class: response and upload buffers with their events, or
// host_queue plus WM_HOSTMSG to owner (dropped without an owner).
void DispatchFrame(const unsigned char* frame, size_t len, HWND owner, ProcessEvents* events);

// Collects length-prefixed frames in place in a FRAME_BUFFER_SIZE buffer. The reader asks
// where to receive and how much (never more than the current frame needs, never past the
// buffer), then reports what arrived.
class FrameAssembler {
  public:
    explicit FrameAssembler(unsigned char* buffer);
    unsigned char* WritePos();
    size_t Room() const;
    // Accounts for count bytes received at WritePos(); true when a complete frame of
    // FrameLength() bytes is in the buffer (call Clear() after handing it on).
    bool Advance(size_t count);
    size_t FrameLength() const { return expected_; }
    void Clear();

  private:
    enum class State { Header, Body, Skip };
    unsigned char* buf_;
    State state_ = State::Header;
    size_t received_ = 0;
    size_t expected_ = 0;
    size_t skipLeft_ = 0;
};

}  // namespace corvex
