// Commands on files alone: zimp info, zimp convert, zimp compress, zimp decompress.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "lzrw3a/lzrw3a.h"
#include "platform/BoundedRead.h"
#include "platform/JsonText.h"
#include "platform/ReplacementFile.h"
#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "srecord/SRecordWriter.h"
#include "streams/MessageStreams.h"

using streams::msgout;

using srecord::BlockInfo;
using srecord::ChunkReader;
using srecord::Image;
using srecord::ImageReader;
using srecord::ReadResult;
using srecord::RunInfo;
using srecord::SRecordWriter;

using lzrw3a::lzrw3a_compress_buffer;
using lzrw3a::lzrw3a_decompress_bounded;
using lzrw3a::lzrw3a_max_decompressed;
using lzrw3a::LZRW3A_MAX_EXPANSION;

namespace cli {

const char* const kInfoHelp =
    "usage: zimp info [--json] FILE\n"
    "\n"
    "Reads the S-Record FILE as a load would and prints its header, its blocks (start, end,\n"
    "kind, first line, 16-bit sum), its runs (start, length, sum) and the total length.\n"
    "With --json, one JSON object:\n"
    "  {\"header\", \"blocks\": [{\"start\", \"end\", \"kind\", \"line\", \"sum\"}],\n"
    "   \"runs\": [{\"start\", \"length\", \"sum\"}], \"total_length\"}\n"
    "A file the reader rejects prints the reader's report and exits 1.\n";

const char* const kConvertHelp =
    "usage: zimp convert IN OUT [--type S1|S2|S3]\n"
    "\n"
    "Reads the S-Record file IN and writes it again as OUT: header \"Converted\", records of\n"
    "at most 32 data bytes at each block's addresses, entry address 0. Without --type, the\n"
    "narrowest type that holds every address. OUT is written beside itself and replaces the\n"
    "old OUT only when complete; a write error (a full disk) leaves the old OUT as it was.\n"
    "A FIFO, a device or a socket is written into once the text is complete, never\n"
    "replaced; OUT - or /dev/stdout is standard output.\n";

const char* const kCompressHelp =
    "usage: zimp compress < IN > OUT\n"
    "\n"
    "Compresses standard input as one LZRW3-A buffer (as a compressed load sends a block).\n"
    "Input over 16 MiB is refused (exit 1).\n";

const char* const kDecompressHelp =
    "usage: zimp decompress < IN > OUT\n"
    "\n"
    "Decompresses one LZRW3-A buffer from standard input. Corrupt input writes\n"
    "\"Compressed data is corrupt.\" and exits 1. Input over 16 MiB is refused (exit 1).\n";

namespace {

// compress and decompress work on one buffer in memory: far more than a load ever sends.
constexpr size_t kMaxFilterInput = 16u << 20;

// Standard input, whole, under the limit; false with the message written.
bool ReadInput(std::string& data) {
    switch (platform::ReadBounded(STDIN_FILENO, kMaxFilterInput, data)) {
        case platform::ReadStatus::Ok:
            return true;
        case platform::ReadStatus::TooLarge:
            msgout() << "The input is larger than " << (kMaxFilterInput >> 20)
                     << " MiB; it was not processed.\n";
            return false;
        default:
            msgout() << "Cannot read standard input: " << std::strerror(errno) << ".\n";
            return false;
    }
}

// Opens an S-Record file as a load reads it; false with the reason written. A file that is not
// there or cannot be read is said to be so, not reported as a file of the wrong format.
std::unique_ptr<Image> OpenImage(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    int error = fd < 0 ? errno : fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (fd >= 0)
        close(fd);
    if (error != 0) {
        msgout() << "Cannot open file " << path << ": " << std::strerror(error) << ".\n";
        return nullptr;
    }
    ReadResult read = ImageReader::Read(path);
    if (!read)
        srecord::ReportReadError(read.error);
    return std::move(read.image);
}

bool WriteAll(const uint8_t* data, size_t n) {
    return std::fwrite(data, 1, n, stdout) == n && FlushOutput();
}

}  // namespace

int CmdInfo(const std::vector<std::string>& files, bool json) {
    if (files.size() != 1)
        return UsageError("info takes one FILE");
    const std::unique_ptr<Image> opened = OpenImage(files[0]);
    if (!opened)
        return kExitFailed;
    const Image& image = *opened;
    if (json) {
        platform::Json blocks = platform::Json::array();
        for (int i = 0; i < image.BlockCount(); ++i) {
            BlockInfo b = image.Block(i);
            if (b.end <= b.start)
                continue;
            blocks.push_back({{"start", b.start},
                              {"end", b.end},
                              {"kind", b.kind},
                              {"line", b.line},
                              {"sum", b.sum}});
        }
        platform::Json runs = platform::Json::array();
        for (int i = 0; i < image.RunCount(); ++i) {
            RunInfo r = image.Run(i);
            runs.push_back({{"start", r.start}, {"length", r.length}, {"sum", r.sum}});
        }
        const platform::Json doc = {{"header", image.Header()},
                                    {"blocks", std::move(blocks)},
                                    {"runs", std::move(runs)},
                                    {"total_length", image.TotalLength()}};
        std::fputs((platform::JsonText(doc) + "\n").c_str(), stdout);
        return kExitOk;
    }
    std::printf("header: %s\n", image.Header());
    std::printf("blocks:\n");
    for (int i = 0; i < image.BlockCount(); ++i) {
        BlockInfo b = image.Block(i);
        if (b.end <= b.start)
            continue;
        std::printf("  %08X-%08X  kind %d  line %d  sum %04X\n", b.start, b.end, b.kind, b.line,
                    b.sum);
    }
    std::printf("runs:\n");
    for (int i = 0; i < image.RunCount(); ++i) {
        RunInfo r = image.Run(i);
        std::printf("  %08X  length %u  sum %04X\n", r.start, r.length, r.sum);
    }
    std::printf("total length: %u\n", image.TotalLength());
    return kExitOk;
}

int CmdConvert(const std::vector<std::string>& files, const std::string* typeOption) {
    std::string type;
    if (typeOption && !ParseRecordType(*typeOption, type))
        return UsageError("--type takes S1, S2 or S3");
    if (files.size() != 2)
        return UsageError("convert takes IN and OUT");
    const std::unique_ptr<Image> opened = OpenImage(files[0]);
    if (!opened)
        return kExitFailed;
    const Image& image = *opened;
    if (type.empty()) {
        uint32_t top = image.EndAddress();
        type = top <= 0x10000 ? "S1" : top <= 0x1000000 ? "S2" : "S3";
    }
    // OUT is replaced only when the conversion is complete.
    platform::ReplacementFile file;
    SRecordWriter writer;
    if (!file.Create(files[1])) {
        msgout() << "Cannot open file " << files[1] << ": " << file.ErrorText() << ".\n";
        return kExitFailed;
    }
    if (!writer.Open(file.TemporaryPath().c_str(), "Converted", type.c_str())) {
        msgout() << "Cannot open file " << files[1] << ": " << std::strerror(errno) << ".\n";
        return kExitFailed;
    }
    auto writeFailed = [&](int error) {
        msgout() << "Cannot write file " << files[1] << ": " << std::strerror(error) << ".\n";
        return kExitFailed;
    };
    uint8_t buf[32];
    ChunkReader reader(image);
    for (;;) {
        int n = reader.ReadChunk(buf, sizeof buf, 0xFF);
        if (n <= 0)
            break;
        if (!writer.WriteRecord(reader.ChunkAddress(), buf, n)) {
            if (writer.WriteError() != 0)
                return writeFailed(writer.WriteError());
            msgout() << "The record at address " << std::hex << std::uppercase
                     << reader.ChunkAddress() << std::dec << std::nouppercase << " does not fit an "
                     << type << " file.\n";
            return kExitFailed;
        }
    }
    if (!writer.Close(0))
        return writeFailed(writer.WriteError());
    if (!file.Commit())
        return writeFailed(file.Error());
    return kExitOk;
}

int CmdCompress(CliApp&, const std::vector<std::string>& args) {
    if (!args.empty())
        return UsageError("compress reads standard input and takes no arguments");
    std::string in;
    if (!ReadInput(in))
        return kExitFailed;
    std::vector<uint8_t> out(in.size() + LZRW3A_MAX_EXPANSION);
    uint32_t n = lzrw3a_compress_buffer(reinterpret_cast<const uint8_t*>(in.data()),
                                        static_cast<uint32_t>(in.size()), out.data());
    return WriteAll(out.data(), n) ? kExitOk : kExitFailed;
}

int CmdDecompress(CliApp&, const std::vector<std::string>& args) {
    if (!args.empty())
        return UsageError("decompress reads standard input and takes no arguments");
    std::string in;
    if (!ReadInput(in))
        return kExitFailed;
    std::vector<uint8_t> out(lzrw3a_max_decompressed(in.size()) + 1);
    size_t n = 0;
    if (!lzrw3a_decompress_bounded(reinterpret_cast<const uint8_t*>(in.data()), in.size(),
                                   out.data(), out.size(), &n)) {
        msgout() << "Compressed data is corrupt.\n";
        return kExitFailed;
    }
    return WriteAll(out.data(), n) ? kExitOk : kExitFailed;
}

std::unique_ptr<CliCommand> MakeCompressCommand() {
    return std::make_unique<OperandsOnlyCommand>(CmdCompress);
}

std::unique_ptr<CliCommand> MakeDecompressCommand() {
    return std::make_unique<OperandsOnlyCommand>(CmdDecompress);
}

namespace {

class InfoCli final : public CliCommand {
  public:
    void Define(CLI::App& o) override { o.add_flag("--json", json_); }
    int Run(CliApp&, const std::vector<std::string>& operands) override {
        return CmdInfo(operands, json_);
    }
    std::string UnknownOption(const std::string&, const std::string& arg) const override {
        return "info: unknown option '" + arg + "'";
    }

  private:
    bool json_ = false;
};

class ConvertCli final : public CliCommand {
  public:
    void Define(CLI::App& o) override { typeGiven_ = o.add_option("--type", type_); }
    int Run(CliApp&, const std::vector<std::string>& operands) override {
        return CmdConvert(operands, typeGiven_->count() > 0 ? &type_ : nullptr);
    }

  private:
    const CLI::Option* typeGiven_ = nullptr;
    std::string type_;
};

}  // namespace

std::unique_ptr<CliCommand> MakeInfoCommand() {
    return std::make_unique<InfoCli>();
}

std::unique_ptr<CliCommand> MakeConvertCommand() {
    return std::make_unique<ConvertCli>();
}

}  // namespace cli
