#include "cli/MultiPortRun.h"

#include <sys/stat.h>

#include <thread>

#include "cli/CliApp.h"
#include "cli/MultiPortCli.h"
#include "memops/Startup.h"
#include "platform/Clock.h"
#include "station/PortPattern.h"
#include "station/ReportFile.h"
#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"
#include "trace/WireTrace.h"
#include "zimp/ZimpEngine.h"

namespace cli {

namespace {
thread_local PortContext* t_current = nullptr;

// Boxes written on a port's thread are that port's; others go where they went before.
class PortMessages : public streams::MessagePresenter {
  public:
    explicit PortMessages(streams::MessagePresenter& fallback) : fallback_(fallback) {}
    void Show(const std::string& text, const std::string& caption) override {
        if (t_current)
            t_current->Message(text);
        else
            fallback_.Show(text, caption);
    }

  private:
    streams::MessagePresenter& fallback_;
};

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}
}  // namespace

void PortContext::Message(const std::string& text) {
    if (probing_)
        return;
    std::string lines = streams::BoxAsLines(text);
    while (!lines.empty() && lines.back() == '\n')
        lines.pop_back();
    std::string joined = lines;
    for (size_t at = joined.find('\n'); at != std::string::npos; at = joined.find('\n', at))
        joined.replace(at, 1, "; ");
    if (!record_.message.empty())
        record_.message += "; ";
    record_.message += joined;
    run_->lines_.Message(index_, lines);
}

void PortContext::State(const std::string& state) {
    run_->lines_.State(index_, state);
}

void PortContext::SetCancel(std::function<void()> cancel) {
    std::function<void()> now;
    {
        std::lock_guard lock(mutex_);
        cancel_ = std::move(cancel);
        if (cancel_ && run_->Cancelled())
            now = cancel_;
    }
    if (now)
        now();
}

void PortContext::SetLastWish(std::function<void()> wish) {
    std::lock_guard lock(mutex_);
    lastWish_ = std::move(wish);
}

bool PortContext::Cancelled() const {
    return run_->Cancelled();
}

const std::atomic<bool>* PortContext::CancelFlag() const {
    return &run_->cancelled_;
}

void PortContext::Started(const std::string&, const std::string&, const std::string&,
                          uint32_t total) {
    total_ = total;
    run_->lines_.Progress(index_, 0, total);
}

void PortContext::Progress(uint32_t bytesDone, uint32_t) {
    run_->lines_.Progress(index_, bytesDone, total_);
}

MultiPortRun::MultiPortRun(MultiPortSettings settings)
    : settings_(std::move(settings)), lines_(settings_.ports, settings_.live, settings_.quiet) {
    // Made before any thread can cancel the run.
    for (size_t i = 0; i < settings_.ports.size(); ++i) {
        auto ctx = std::make_unique<PortContext>();
        ctx->run_ = this;
        ctx->index_ = i;
        ctx->number_ = static_cast<unsigned>(i + 1);
        ctx->record_.port = settings_.ports[i];
        contexts_.push_back(std::move(ctx));
    }
}

MultiPortRun::~MultiPortRun() = default;

void MultiPortRun::Cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    wake_.notify_all();
    // Under the port's lock: a job that clears its cancel (SetCancel(nullptr)) before its
    // command goes out of scope then waits until a running cancel has let go of it.
    for (auto& ctx : contexts_) {
        std::lock_guard lock(ctx->mutex_);
        if (ctx->cancel_)
            ctx->cancel_();
    }
}

void MultiPortRun::LastWishes() {
    for (auto& ctx : contexts_) {
        std::lock_guard lock(ctx->mutex_);
        if (ctx->lastWish_)
            ctx->lastWish_();
    }
}

bool MultiPortRun::SlotsLeft() const {
    return settings_.count == 0 || started_.load() < settings_.count;
}

bool MultiPortRun::TakeSlot(unsigned& number) {
    unsigned long n = started_.load();
    do {
        if (settings_.count != 0 && n >= settings_.count)
            return false;
    } while (!started_.compare_exchange_weak(n, n + 1));
    number = static_cast<unsigned>(n + 1);
    return true;
}

void MultiPortRun::Pause(int ms, bool untilCountReached) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this, untilCountReached] {
        return cancelled_.load() || (untilCountReached && !SlotsLeft());
    });
}

void MultiPortRun::NewPort(PortContext& ctx) {
    ctx.port_ = std::make_unique<serial::SerialPort>();
    // One copy per port for the whole run, however often a station looks for a radio.
    if (!ctx.profile_)
        ctx.profile_ = settings_.profileFor(ctx.record_.port);
}

bool MultiPortRun::OpenPort(PortContext& ctx) {
    NewPort(ctx);
    return ctx.profile_ && OpenPortOf(*ctx.port_, *ctx.profile_);  // no copy: said why
}

bool MultiPortRun::Answers(PortContext& ctx) {
    zimp::ZimpEngine engine;
    const std::optional<bool> echo = memops::ReadEcho(*ctx.profile_);
    if (!echo || !ctx.port_->IsOpen() || !engine.Attach(ctx.port_.get(), *echo))
        return false;
    uint8_t status = 0;
    uint32_t address = 0;
    serial::SerialPort* port = ctx.port_.get();
    ctx.SetCancel([port] { port->AbortAll(); });  // a cancel ends the wait at once
    const bool ok =
        !Cancelled() && engine.GetStatus(status, address, 1000) == zimp::RequestResult::ReplyOk;
    ctx.SetCancel(nullptr);
    engine.Detach();
    return ok;
}

bool MultiPortRun::WaitForRadio(PortContext& ctx) {
    ctx.State("waiting for a radio");
    ctx.probing_ = true;
    while (!Cancelled() && SlotsLeft()) {
        if (Exists(ctx.record_.port) && OpenPort(ctx)) {
            if (Answers(ctx)) {
                ctx.probing_ = false;
                return true;
            }
            ctx.port_->Close();
        }
        Pause(kStationPollMs, true);
    }
    ctx.probing_ = false;
    return false;
}

void MultiPortRun::WaitUntilGone(PortContext& ctx) {
    int silent = 0;
    while (!Cancelled()) {
        if (!Exists(ctx.record_.port) || !ctx.port_->IsOpen() || ctx.port_->Gone())
            break;
        ctx.probing_ = true;
        silent = Answers(ctx) ? 0 : silent + 1;
        ctx.probing_ = false;
        if (silent >= 2)
            break;  // still there, but no radio answers on it
        if (ended_.load() >= settings_.count && settings_.count != 0)
            break;
        Pause(kStationPollMs, false);
    }
    ctx.port_->Close();
}

void MultiPortRun::RunOne(PortContext& ctx, const PortJob& job) {
    PortRecord& r = ctx.record_;
    const std::string port = r.port;
    r = settings_.base;
    r.port = port;
    r.byId = station::ByIdName(port);
    r.start = std::chrono::system_clock::now();
    const uint64_t startMs = platform::TickMs();
    ctx.total_ = 0;
    lines_.Progress(ctx.index_, 0, 0);
    // A station's port is open already, on the radio it found.
    const bool open = (ctx.port_ && ctx.port_->IsOpen()) || OpenPort(ctx);
    trace::WireTrace wire;  // this radio's, when asked for
    std::string traceFile;
    if (open && !settings_.trace.empty()) {
        traceFile = PortFileName(settings_.trace, port, ctx.number_);
        if (const std::string why = wire.Open(traceFile); !why.empty())
            ctx.Message("Cannot write the trace " + traceFile + ": " + why + ".");
        wire.Note("port " + port + ", radio " + std::to_string(ctx.number_));
        ctx.port_->SetTrace(wire.IsOpen() ? &wire : nullptr);
    }
    r.outcome = open ? job(ctx) : PortOutcome::Failed;
    if (wire.IsOpen()) {
        ctx.port_->SetTrace(nullptr);
        if (const std::string why = wire.Close(); !why.empty())
            ctx.Message("Cannot write the trace " + traceFile + ": " + why + ".");
    }
    if (r.outcome == PortOutcome::Failed && ctx.profile_ && ctx.profile_->Refused() > 0)
        refused_ = true;
    if (Cancelled() && r.outcome != PortOutcome::Succeeded)
        r.outcome = PortOutcome::Cancelled;
    {
        std::lock_guard lock(ctx.mutex_);
        ctx.cancel_ = nullptr;
        ctx.lastWish_ = nullptr;
    }
    r.end = std::chrono::system_clock::now();
    r.seconds = (platform::TickMs() - startMs) / 1000.0;
    Finish(ctx);
}

void MultiPortRun::Finish(PortContext& ctx) {
    PortRecord& r = ctx.record_;
    std::string state = OutcomeName(r.outcome);
    if (r.outcome == PortOutcome::Succeeded) {
        char text[96];
        std::snprintf(text, sizeof text, "ok: %llu bytes in %.1f s",
                      static_cast<unsigned long long>(r.bytes), r.seconds);
        state = text;
        if (r.serial)
            state += ", serial " + std::to_string(*r.serial);
    }
    if (settings_.report) {
        std::string error;
        if (!settings_.report->Append(RecordJson(r), error))
            ctx.Message("Cannot write the report: " + error + ".");
    }
    if (settings_.station)
        state += "; remove the radio";
    ctx.State(state);
    std::lock_guard lock(mutex_);
    records_.push_back(r);
    ++ended_;
    wake_.notify_all();
}

void MultiPortRun::Worker(size_t index, const PortJob& job) {
    PortContext& ctx = *contexts_[index];
    t_current = &ctx;
    if (!settings_.station) {
        RunOne(ctx, job);
    } else {
        while (!Cancelled() && SlotsLeft()) {
            if (!WaitForRadio(ctx))
                break;
            unsigned number = 0;
            if (!TakeSlot(number)) {
                ctx.port_->Close();
                break;
            }
            ctx.number_ = number;
            RunOne(ctx, job);
            WaitUntilGone(ctx);
        }
        ctx.State(Cancelled() ? "stopped" : "done");
    }
    if (ctx.port_)
        ctx.port_->Close();
    t_current = nullptr;
}

std::vector<PortRecord> MultiPortRun::Run(const PortJob& job) {
    streams::MessagePresenter& before = streams::CurrentMessagePresenter();
    PortMessages messages(before);
    streams::SetMessagePresenter(&messages);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < contexts_.size(); ++i)
        threads.emplace_back([this, i, &job] { Worker(i, job); });
    for (std::thread& t : threads)
        t.join();
    streams::SetMessagePresenter(&before);
    lines_.Close();
    std::lock_guard lock(mutex_);
    if (!settings_.station) {
        std::vector<PortRecord> ordered;
        for (auto& ctx : contexts_)
            ordered.push_back(ctx->record_);
        return ordered;
    }
    return records_;
}

}  // namespace cli
