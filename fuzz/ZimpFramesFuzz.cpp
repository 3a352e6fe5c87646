// Hostile bytes through the request framing and the reply parser with its receive buffer.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zimp/ReceiveBuffer.h"
#include "zimp/ZimpFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Framing: a framed request always sums to 0xFF (unless it is a bare opcode).
    std::vector<uint8_t> out(zimp::kMaxFrameLength);
    const uint32_t d = zimp::FrameRequest(data, size, out.data(), out.size());
    if (d != 0) {
        if (d != zimp::FrameLength(data, size) || d > out.size())
            __builtin_trap();
        if ((data[0] & 0x0F) != 0) {
            uint8_t sum = 0;
            for (uint32_t i = 0; i < d; ++i)
                sum = static_cast<uint8_t>(sum + out[i]);
            if (sum != 0xFF)
                __builtin_trap();
        }
    }

    // Parsing: payload never outgrows the buffer; a good frame sums to 0xFF.
    zimp::ReplyParser parser;
    zimp::ReceiveBuffer buffer;
    for (size_t i = 0; i < size; ++i) {
        if (parser.AwaitingFirst())
            buffer.Clear();
        switch (parser.Feed(data[i])) {
            case zimp::ReplyParser::Step::Payload:
                buffer.Push(data[i]);
                break;
            case zimp::ReplyParser::Step::Good:
                if (parser.Sum() != 0xFF)
                    __builtin_trap();
                parser.Reset();
                break;
            case zimp::ReplyParser::Step::BadChecksum:
            case zimp::ReplyParser::Step::OpcodeOnly:
                parser.Reset();
                break;
            case zimp::ReplyParser::Step::More:
                break;
        }
        if (buffer.Size() > zimp::ReceiveBuffer::kLimit || buffer.Size() > buffer.Capacity())
            __builtin_trap();
    }
    uint8_t sink[64];
    while (buffer.Take(sink, sizeof sink) != 0) {
    }
    return 0;
}
