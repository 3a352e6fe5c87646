#include "sim/radio/ZimpRadio.h"

#include <algorithm>
#include <cstdio>

#include "lzrw3a/lzrw3a.h"
#include "platform/HexText.h"
#include "platform/JsonText.h"
#include "zimp/ZimpFrame.h"

using lzrw3a::lzrw3a_decompress_bounded;
using lzrw3a::lzrw3a_max_decompressed;

namespace radio {
namespace {

constexpr uint16_t kRead = 0xF511;
constexpr uint16_t kCheckSum = 0xF612;
constexpr uint16_t kConfiguration = 0xF113;
constexpr uint16_t kStatus = 0xF114;
constexpr uint16_t kEraseFlash = 0xF115;
constexpr uint16_t kZeroFlash = 0xF116;
constexpr uint16_t kWriteData = 0xFF17;

constexpr uint8_t kReadReply = 0x80;
constexpr uint8_t kCheckSumReply = 0x81;
constexpr uint8_t kConfigurationReply = 0x82;
constexpr uint8_t kStatusReply = 0x83;
constexpr uint8_t kWritten = 0x84;
constexpr uint8_t kBadWrite = 0x85;
constexpr uint8_t kUnsupported = 0x86;
constexpr uint8_t kUnknownReply = 0x87;  // what --wrong-opcode-at answers with

constexpr uint32_t kFlashBase = 0x400000;

uint32_t Address24(const std::vector<uint8_t>& f, size_t at) {
    return uint32_t(f[at]) << 16 | uint32_t(f[at + 1]) << 8 | f[at + 2];
}

void PutAddress(std::vector<uint8_t>& out, uint32_t address) {
    out.push_back(static_cast<uint8_t>(address >> 16));
    out.push_back(static_cast<uint8_t>(address >> 8));
    out.push_back(static_cast<uint8_t>(address));
}

const char* MemoryName(uint8_t code) {
    switch (code) {
        case 0x8:
            return "RAM";
        case 0x4:
            return "Flash";
        case 0x0:
            return "EEPROM";
        default:
            return "other";
    }
}

const char* RequestName(uint16_t opcode) {
    switch (opcode) {
        case kRead:
            return "Read";
        case kCheckSum:
            return "Check Sum";
        case kConfiguration:
            return "Configuration";
        case kStatus:
            return "Status";
        case kEraseFlash:
            return "Erase Flash";
        case kZeroFlash:
            return "Zero Flash";
        case kWriteData:
            return "Write Data";
        default:
            return "unknown";
    }
}

}  // namespace

std::vector<uint8_t> MakeReplyFrame(uint8_t command, const std::vector<uint8_t>& payload,
                                    bool extended) {
    std::vector<uint8_t> f;
    const size_t count = payload.size() + 1;  // the checksum counts
    if (extended || count > 14) {
        f = {0xFF, command, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
    } else {
        f = {static_cast<uint8_t>(0xF0 | count), command};
    }
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(zimp::Checksum(f.data(), f.size()));
    return f;
}

ZimpRadio::ZimpRadio(ZimpRadioOptions options) : options_(options), reader_(options.idleMs) {}

void ZimpRadio::Receive(const uint8_t* bytes, size_t n, uint64_t nowMs, RadioLine& line) {
    // Answers are sent after the lock is released: a slow line must not block the readers of the
    // state. Echoed bytes go back as they arrive, answers after the whole request.
    std::vector<Chunk> out;
    {
        std::lock_guard lock(mutex_);
        size_t echoFrom = 0;
        for (size_t i = 0; i < n; ++i) {
            i += reader_.PushWithin(bytes + i, n - i, nowMs);
            if (i == n)
                break;
            const FrameReader::Result r = reader_.Push(bytes[i], nowMs);
            if (reader_.Frame().size() == 1)
                frameStartMs_ = nowMs;
            if (r == FrameReader::Result::Partial)
                continue;
            if (options_.echo) {
                out.push_back({true, {bytes + echoFrom, bytes + i + 1}});
                echoFrom = i + 1;
            }
            Answer(reader_.Frame(), r == FrameReader::Result::Frame, out);
        }
        if (options_.echo && echoFrom < n)
            out.push_back({true, {bytes + echoFrom, bytes + n}});
        stats_.droppedPartials = reader_.DroppedPartials();
    }
    for (const auto& chunk : out) {
        if (chunk.echo) {
            line.Echo(chunk.bytes.data(), chunk.bytes.size());
        } else if (chunk.nakOf != kNoRecord) {
            const uint64_t sentMs = line.SendNoted(chunk.bytes.data(), chunk.bytes.size());
            std::lock_guard lock(mutex_);
            records_[chunk.nakOf].nakSentMs = sentMs;
        } else {
            line.Send(chunk.bytes.data(), chunk.bytes.size());
        }
    }
}

void ZimpRadio::Idle(uint64_t nowMs) {
    std::lock_guard lock(mutex_);
    reader_.Expire(nowMs);
    stats_.droppedPartials = reader_.DroppedPartials();
}

size_t ZimpRadio::Record(RequestRecord record) {
    if (records_.size() >= kMaxRecords) {
        ++stats_.unrecorded;
        return kNoRecord;
    }
    records_.push_back(std::move(record));
    return records_.size() - 1;
}

void ZimpRadio::Answer(const std::vector<uint8_t>& frame, bool checksumOk,
                       std::vector<Chunk>& out) {
    ++stats_.frames;
    RequestRecord record;
    record.index = static_cast<uint32_t>(stats_.frames);
    record.arrivedMs = frameStartMs_;
    record.opcode = static_cast<uint16_t>(frame[0] << 8);
    if ((frame[0] >> 4) == 0xF && frame.size() > 1)
        record.opcode = static_cast<uint16_t>(record.opcode | frame[1]);
    const bool isWrite = record.opcode == kWriteData;
    if (isWrite)
        ++writes_;

    if (options_.silentAfter && record.index > *options_.silentAfter) {
        record.answer = "silent";
        Record(std::move(record));
        return;
    }
    if (!checksumOk) {
        ++stats_.badChecksums;
        ++stats_.naks;
        record.answer = "nak-checksum";
        out.push_back({false, {kNak}, Record(std::move(record))});
        return;
    }
    if ((isWrite && writes_ <= options_.nakFirstWrites) ||
        (options_.nakEvery && record.index % options_.nakEvery == 0)) {
        ++stats_.naks;
        record.answer = "nak";
        out.push_back({false, {kNak}, Record(std::move(record))});
        return;
    }
    out.push_back({false, {kAck}});
    replyCommandOverride_ =
        options_.wrongOpcodeAt && record.index == *options_.wrongOpcodeAt ? kUnknownReply : 0;
    std::vector<uint8_t> reply = Reply(frame, record);
    const bool writeType = isWrite || record.opcode == kEraseFlash || record.opcode == kZeroFlash;
    if (options_.noWriteResponse && writeType)
        reply.clear();
    record.answer = "ack";
    Record(std::move(record));
    if (!reply.empty())
        out.push_back({false, std::move(reply)});
}

std::vector<uint8_t> ZimpRadio::WriteResponse(bool ok, uint32_t address) const {
    std::vector<uint8_t> p;
    PutAddress(p, address);
    return MakeReplyFrame(replyCommandOverride_ ? replyCommandOverride_
                          : ok                  ? kWritten
                                                : kBadWrite,
                          p, false);
}

std::vector<uint8_t> ZimpRadio::Reply(const std::vector<uint8_t>& f, RequestRecord& record) {
    auto reply = [this](uint8_t command, const std::vector<uint8_t>& p, bool extended) {
        return MakeReplyFrame(replyCommandOverride_ ? replyCommandOverride_ : command, p, extended);
    };
    switch (record.opcode) {
        case kRead:
            if (f.size() != 7)
                break;
            {
                record.address = Address24(f, 3);
                record.length = f[2];
                uint32_t n = record.length;
                if (options_.shortRead && n > 0)
                    --n;
                std::vector<uint8_t> p;
                PutAddress(p, record.address);
                for (uint32_t i = 0; i < n; ++i)
                    p.push_back(memory_.Read(record.address + i));
                return reply(kReadReply, p, true);
            }
        case kCheckSum:
            if (f.size() != 8)
                break;
            {
                record.length = uint32_t(f[2]) << 8 | f[3];
                record.address = Address24(f, 4);
                uint16_t sum = 0;
                for (uint32_t i = 0; i < record.length; ++i)
                    sum = static_cast<uint16_t>(sum + memory_.Read(record.address + i));
                return reply(kCheckSumReply,
                             {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)}, false);
            }
        case kConfiguration:
            if (f.size() != 3)
                break;
            return reply(kConfigurationReply,
                         {static_cast<uint8_t>(options_.bufferLength >> 8),
                          static_cast<uint8_t>(options_.bufferLength), 0},
                         false);
        case kStatus:
            if (f.size() != 3)
                break;
            {
                std::vector<uint8_t> p{static_cast<uint8_t>(loadEnded_ ? 1 : 0)};
                PutAddress(p, lastWriteAddress_);
                return reply(kStatusReply, p, false);
            }
        case kEraseFlash:
        case kZeroFlash:
            if (f.size() != 3)
                break;
            memory_.Fill(RadioMemory::CodeOf(kFlashBase), record.opcode == kEraseFlash ? 0xFF : 0);
            record.address = kFlashBase;
            return WriteResponse(true, kFlashBase);
        case kWriteData: {
            if (f.size() < 8)
                break;
            const uint32_t n = static_cast<uint32_t>(f.size() - 8);
            record.address = Address24(f, 4);
            record.length = n;
            if (n == 0 && record.address == kEndOfLoad) {
                markers_.push_back(record.index);
                loadEnded_ = true;
                return WriteResponse(true, record.address);
            }
            if (options_.badWriteAt) {
                const uint32_t bad = *options_.badWriteAt & 0xFFFFFF;
                const uint32_t span = n ? n : 1;
                if (bad >= record.address && bad - record.address < span)
                    return WriteResponse(false, bad);
            }
            if (options_.decompress && n > 0) {
                // What a radio does with a compressed load: a malformed buffer is a failed
                // write, and nothing of it is stored.
                std::vector<uint8_t> plain(std::min<size_t>(lzrw3a_max_decompressed(n), 1u << 20));
                size_t got = 0;
                if (!lzrw3a_decompress_bounded(f.data() + 7, n, plain.data(), plain.size(), &got))
                    return WriteResponse(false, record.address);
                memory_.Write(record.address, plain.data(), got);
                record.length = static_cast<uint32_t>(got);
                lastWriteAddress_ = record.address;
                loadEnded_ = false;
                return WriteResponse(true, record.address);
            }
            memory_.Write(record.address, f.data() + 7, n);
            lastWriteAddress_ = record.address;
            loadEnded_ = false;
            return WriteResponse(true, record.address);
        }
        default:
            break;
    }
    return reply(kUnsupported, {}, false);
}

std::vector<uint8_t> ZimpRadio::ReadMemory(uint32_t address, uint32_t n) const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out(n);
    for (uint32_t i = 0; i < n; ++i)
        out[i] = memory_.Read(address + i);
    return out;
}

void ZimpRadio::Preload(uint32_t address, const std::vector<uint8_t>& data) {
    std::lock_guard lock(mutex_);
    memory_.Write(address, data.data(), data.size());
}

std::vector<RequestRecord> ZimpRadio::Requests() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<uint32_t> ZimpRadio::Markers() const {
    std::lock_guard lock(mutex_);
    return markers_;
}

ZimpRadioStats ZimpRadio::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

namespace {

// A whole number from 0 to max, however it is written (16, 16.0, 1.6e1).
bool Integer(const platform::Json& object, const char* key, uint32_t max, uint32_t& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number())
        return false;
    const double v = it->get<double>();
    if (v < 0 || v > max || v != static_cast<double>(static_cast<uint32_t>(v)))
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

bool ZimpRadio::LoadJson(const std::string& text, std::string& error) {
    platform::Json doc;
    if (!platform::ParseJsonText(text, doc, error))
        return false;
    const auto memories = doc.find("memories");
    if (memories == doc.end() || !memories->is_array()) {
        error = "no \"memories\" array";
        return false;
    }
    RadioMemory loaded;
    for (const platform::Json& m : *memories) {
        uint32_t code = 0, fill = 0xFF;
        if (!Integer(m, "code", 15, code)) {
            error = "memory without a \"code\" from 0 to 15";
            return false;
        }
        if (m.contains("fill") && !Integer(m, "fill", 255, fill)) {
            error = "bad \"fill\"";
            return false;
        }
        loaded.Fill(static_cast<uint8_t>(code), static_cast<uint8_t>(fill));
        const auto blocks = m.find("blocks");
        if (blocks == m.end())
            continue;
        if (!blocks->is_array()) {
            error = "\"blocks\" is not an array";
            return false;
        }
        for (const platform::Json& b : *blocks) {
            uint32_t address = 0;
            const auto data = b.find("data");
            const std::string* hex =
                data == b.end() ? nullptr : data->get_ptr<const std::string*>();
            if (!Integer(b, "address", 0xFFFFFF, address) || hex == nullptr ||
                hex->size() % 2 != 0 || hex->size() / 2 > 0x1000000 - address) {
                error = "bad block (address from 0 to 0xFFFFFF, data as hex pairs within it)";
                return false;
            }
            for (size_t i = 0; i < hex->size(); i += 2) {
                const int hi = platform::HexDigitValue((*hex)[i]),
                          lo = platform::HexDigitValue((*hex)[i + 1]);
                if (hi < 0 || lo < 0) {
                    error = "bad hex digit in block data";
                    return false;
                }
                loaded.Write(static_cast<uint32_t>(address + i / 2),
                             static_cast<uint8_t>(hi << 4 | lo));
            }
        }
    }
    std::lock_guard lock(mutex_);
    memory_ = std::move(loaded);
    return true;
}

void ZimpRadio::WriteDump(std::ostream& out) const {
    std::lock_guard lock(mutex_);
    platform::Json memories = platform::Json::array();
    for (uint8_t code = 0; code < RadioMemory::kCodes; ++code) {
        const auto blocks = memory_.Blocks(code);
        if (blocks.empty() && memory_.FillValue(code) == 0xFF)
            continue;
        platform::Json list = platform::Json::array();
        for (const auto& block : blocks) {
            list.push_back({{"address", block.address},
                            {"length", block.data.size()},
                            {"data", platform::HexText(block.data, platform::HexCase::Lower)}});
        }
        memories.push_back({{"code", code},
                            {"name", MemoryName(code)},
                            {"fill", memory_.FillValue(code)},
                            {"blocks", std::move(list)}});
    }
    platform::Json requests = platform::Json::array();
    for (const RequestRecord& r : records_) {
        requests.push_back({{"index", r.index},
                            {"opcode", r.opcode},
                            {"name", RequestName(r.opcode)},
                            {"address", r.address},
                            {"length", r.length},
                            {"answer", r.answer}});
        if (options_.dumpTimes) {
            requests.back()["arrived_ms"] = r.arrivedMs;
            if (r.nakSentMs)
                requests.back()["nak_sent_ms"] = *r.nakSentMs;
        }
    }
    platform::Json markers = platform::Json::array();
    for (uint32_t m : markers_)
        markers.push_back({{"request", m}});
    const platform::Json doc = {{"memories", std::move(memories)},
                                {"requests", std::move(requests)},
                                {"markers", std::move(markers)},
                                {"stats",
                                 {{"frames", stats_.frames},
                                  {"bad_checksums", stats_.badChecksums},
                                  {"naks", stats_.naks},
                                  {"dropped_partials", stats_.droppedPartials},
                                  {"unrecorded_requests", stats_.unrecorded}}}};
    out << platform::JsonText(doc, {true, {"memories", "blocks", "requests"}}) << '\n';
}

}  // namespace radio
