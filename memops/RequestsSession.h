#pragma once
// Single ZIMP requests sent by hand: the field checks, the eight requests and their result
// texts, and the last address, data and counter kept in the configuration.

#include <cstdint>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "streams/Configuration.h"
#include "zimp/ZimpEngine.h"

namespace memops {

enum class ZimpRequest {
    Read,
    CheckSum,
    Configuration,
    Status,
    EraseFlash,
    ZeroFlash,
    WriteData,
    FreeRequest,
};

// How a request ended. Its texts are on the message stream already (an aborted wait has none).
enum class RequestOutcome {
    Succeeded,  // the reply or the write response came and is shown
    Failed,     // the request failed or its wait was aborted
    BadWrite,   // the radio answered the write with a bad-write response
    Refused,    // a field was refused; nothing was sent
    Busy,       // another request was running; this one was ignored
};

// The field a refused request names, so that the window can put the focus there.
enum class RequestsField { None, Counter, Address, Data };

// What the requests window shows besides message boxes.
class RequestsView {
  public:
    virtual ~RequestsView() = default;
    virtual void SetStatusText(const std::string& text) { (void)text; }  // "Waiting Response"
    virtual void SetAddressField(const std::string& text) = 0;           // "%06x"
    virtual void SetAddressResponse(const std::string& text) = 0;
    virtual void AppendResponse(const std::string& text) = 0;  // the response box
};

// Field checks. An over-long text gets only "Number of caracters must be less than N\n"; an odd
// count "The number of caracters must be even\n"; a non-hex character "Characters must be in
// hex format( 0-9, a-f)\n". trimmed receives the text without surrounding white space.
bool CheckHexField(const std::string& text, size_t limit, std::string& trimmed);
// The "Counter": an integer from 1 to 255.
bool CheckCounter(const std::string& text, uint32_t& counter);

class RequestsSession {
  public:
    static constexpr size_t kAddressLimit = 6;
    static constexpr size_t kDataLimit = 255;
    static constexpr uint32_t kReplyTimeoutMs = 1000;

    RequestsSession(serial::SerialPort* port, streams::Configuration* profile);
    ~RequestsSession();

    // Opening the dialog: false (with "You have to set port and profile\n") without a port or
    // configuration. Reads Echo and the last values, attaches the engine.
    bool Open();
    // Closing: writes LastAddress, LastData and LastCounter back and detaches.
    void Close();

    // Checks the fields and runs one request. Refused when a field was refused (nothing sent;
    // FailedField() names it); Busy when a request is already running (the reply waits pump
    // the front end's events, so a second press can arrive while one runs; it is ignored).
    // The request's own failure is reported on the message stream.
    RequestOutcome Run(ZimpRequest request, const std::string& addressText,
                       const std::string& dataText, const std::string& counterText,
                       RequestsView& view);
    // The last request that ran (or was refused).
    RequestOutcome Outcome() const { return outcome_; }
    bool Succeeded() const { return outcome_ == RequestOutcome::Succeeded; }
    bool Running() const { return running_; }
    RequestsField FailedField() const { return failedField_; }
    // Data of the last successful "Read"; address of the last write response.
    const std::vector<uint8_t>& ReadData() const { return readData_; }
    uint32_t ResponseAddress() const { return responseAddress_; }
    bool BadWrite() const { return outcome_ == RequestOutcome::BadWrite; }
    // "Abort Req": ends a pending wait.
    void Abort();

    const std::string& LastAddress() const { return lastAddress_; }
    const std::string& LastData() const { return lastData_; }
    uint32_t LastCounter() const { return lastCounter_; }
    zimp::ZimpEngine& Engine() { return engine_; }

  private:
    struct Fields {
        std::string address, data;  // trimmed hex texts
        uint32_t counter = 0;
    };
    bool CheckFields(const std::string& addressText, const std::string& dataText,
                     const std::string& counterText, Fields& fields);
    // The address as the window shows it; returns its value.
    uint32_t ShowAddress(const std::string& address, RequestsView& view);
    void Send(ZimpRequest request, uint32_t addr, const Fields& fields, RequestsView& view);
    void ReadStep(uint32_t addr, uint32_t counter, RequestsView& view);
    // Erase Flash, Zero Flash and Write Data: the request, then its write response.
    void WriteStep(ZimpRequest request, uint32_t addr, const std::string& data, RequestsView& view);
    void WriteResponseStep(RequestsView& view);
    // Reports the request's failure; true also for an aborted wait, which reports nothing.
    bool Failed();

    serial::SerialPort* port_;
    streams::Configuration* profile_;
    zimp::ZimpEngine engine_;
    bool open_ = false;
    std::string lastAddress_ = "000000", lastData_;
    uint32_t lastCounter_ = 1;
    RequestOutcome outcome_ = RequestOutcome::Failed;
    bool running_ = false;
    RequestsField failedField_ = RequestsField::None;
    std::vector<uint8_t> readData_;
    uint32_t responseAddress_ = 0;
};

}  // namespace memops
