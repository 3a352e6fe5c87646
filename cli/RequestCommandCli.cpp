// zimp request ...: one ZIMP request, as the requests window sends it.

#include <cstdio>

#include "cli/CliApp.h"
#include "cli/Commands.h"
#include "cli/MultiPortCli.h"
#include "memops/RequestsSession.h"

using memops::RequestOutcome;
using memops::RequestsSession;
using memops::RequestsView;
using memops::ZimpRequest;

namespace cli {

const char* const kRequestHelp =
    "usage: zimp request read ADDR COUNT\n"
    "       zimp request checksum ADDR LEN\n"
    "       zimp request config | status | erase | zero\n"
    "       zimp request write ADDR HEXDATA\n"
    "\n"
    "Sends one ZIMP request and prints the answer. ADDR is hex (an even number of digits,\n"
    "at most 6), HEXDATA hex bytes (at most 255 digits), COUNT and LEN 1 to 255 (decimal,\n"
    "or hex after 0x).\n"
    "  read      prints the bytes read as upper-case hex\n"
    "  checksum  prints \"Check Sum: \" and the 16-bit sum in hex\n"
    "  config    prints \"Buffer Length is 0x....\"\n"
    "  status    prints the address and the status byte\n"
    "  erase, zero, write  wait for the write response and print its address (hex)\n"
    "The address, data and counter used are remembered as LastAddress, LastData and\n"
    "LastCounter. A refused field prints why and exits 2 with nothing sent.\n"
    "Exit status 0 success, 1 failed (a bad write response too), 2 bad usage, 130 interrupted.\n";

namespace {
class CliRequestsView : public RequestsView {
  public:
    void SetAddressField(const std::string&) override {}
    void SetAddressResponse(const std::string& text) override { response = text; }
    void AppendResponse(const std::string& text) override {
        if (text != "\r\n>")
            data += text;
    }
    std::string response, data;
};
}  // namespace

int CmdRequest(CliApp& app, const std::vector<std::string>& args) {
    if (args.empty())
        return UsageError("request needs a request name (see zimp request --help)");
    const std::string& name = args[0];
    struct Shape {
        const char* name;
        ZimpRequest request;
        int operands;  // 0, 1 (ADDR) or 2 (ADDR and COUNT/DATA)
        bool data;
    };
    static const Shape shapes[] = {
        {"read", ZimpRequest::Read, 2, false},
        {"checksum", ZimpRequest::CheckSum, 2, false},
        {"config", ZimpRequest::Configuration, 0, false},
        {"status", ZimpRequest::Status, 0, false},
        {"erase", ZimpRequest::EraseFlash, 0, false},
        {"zero", ZimpRequest::ZeroFlash, 0, false},
        {"write", ZimpRequest::WriteData, 2, true},
    };
    const Shape* shape = nullptr;
    for (const auto& s : shapes)
        if (name == s.name)
            shape = &s;
    if (!shape)
        return UsageError("unknown request '" + name + "'");
    if (static_cast<int>(args.size()) - 1 != shape->operands)
        return UsageError("request " + name + " takes " + std::to_string(shape->operands) +
                          " operand(s) (see zimp request --help)");

    // The request's fields: the operands, else what the session remembers.
    struct Fields {
        std::string address, data, counter;
    };
    auto FieldsFor = [&](RequestsSession& session) {
        Fields f{session.LastAddress(), session.LastData(), "1"};
        if (shape->operands == 2) {
            f.address = args[1];
            (shape->data ? f.data : f.counter) = args[2];
        }
        // COUNT and LEN are decimal, as the window's field, or 0x hex; the field check reads
        // the decimal form and refuses anything else in its own words.
        if (unsigned long n = 0; !shape->data && ParseCount(f.counter, n))
            f.counter = std::to_string(n);
        return f;
    };
    if (app.SeveralPorts()) {
        PortRecord base;
        base.operation = "request " + name;
        const PortJob job = [&](PortContext& ctx) {
            RequestsSession session(&ctx.Port(), &ctx.Profile());
            if (!session.Open())
                return PortOutcome::Failed;
            const Fields f = FieldsFor(session);
            CliRequestsView view;
            ctx.State("requesting");
            ctx.SetCancel([&session] { session.Abort(); });
            const RequestOutcome outcome =
                session.Run(shape->request, f.address, f.data, f.counter, view);
            ctx.SetCancel(nullptr);
            session.Close();
            // What the radio answered is the port's result.
            if (!view.data.empty())
                ctx.Message(view.data);
            if (!view.response.empty())
                ctx.Message(view.response);
            return outcome == RequestOutcome::Succeeded ? PortOutcome::Succeeded
                                                        : PortOutcome::Failed;
        };
        return RunOnPorts(app, base, job);
    }

    app.OpenPort();
    RequestsSession session(&app.Port(), &app.Profile());
    if (!session.Open())
        return app.Finish(false);
    const Fields f = FieldsFor(session);
    CliRequestsView view;
    app.Canceller().SetHandler([&] { session.Abort(); });
    const RequestOutcome outcome = session.Run(shape->request, f.address, f.data, f.counter, view);
    app.Canceller().SetHandler(nullptr);
    session.Close();
    if (outcome == RequestOutcome::Refused || outcome == RequestOutcome::Busy)
        return kExitUsage;
    if (!view.data.empty())
        std::printf("%s\n", view.data.c_str());
    if (!view.response.empty())
        std::printf("%s\n", view.response.c_str());
    std::fflush(stdout);
    return app.Finish(outcome == RequestOutcome::Succeeded);
}

std::unique_ptr<CliCommand> MakeRequestCommand() {
    return std::make_unique<OperandsOnlyCommand>(CmdRequest);
}

}  // namespace cli
