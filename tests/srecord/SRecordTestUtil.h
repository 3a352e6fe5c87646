#pragma once
// Helpers for the S-Record tests: temporary files and records built independently of the
// writer under test.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace srtest {

using Bytes = std::vector<uint8_t>;

// A file in a private temporary directory, removed with the object.
class TempFile {
  public:
    TempFile() {
        char dir[] = "/tmp/zimp_srecord_XXXXXX";
        dir_ = mkdtemp(dir) ? dir : "/tmp";
        path_ = dir_ + "/image.s19";
    }
    explicit TempFile(const std::string& text) : TempFile() { Write(text); }
    ~TempFile() {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    void Write(const std::string& text) const {
        std::ofstream f(path_, std::ios::binary | std::ios::trunc);
        f << text;
    }
    std::string Read() const {
        std::ifstream f(path_, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    bool Exists() const { return access(path_.c_str(), F_OK) == 0; }
    const char* path() const { return path_.c_str(); }

  private:
    std::string dir_;
    std::string path_;
};

inline std::string Hex2(unsigned v) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
}

// One record line (no line end) with a correct count and checksum; checksumDelta spoils it.
inline std::string Rec(const std::string& type, uint32_t address, const Bytes& data,
                       int checksumDelta = 0) {
    int addressBytes = 2;
    if (type == "S2" || type == "S8")
        addressBytes = 3;
    if (type == "S3" || type == "S7")
        addressBytes = 4;
    unsigned count = static_cast<unsigned>(data.size()) + addressBytes + 1;
    unsigned sum = count;
    std::string s = type + Hex2(count);
    for (int i = addressBytes - 1; i >= 0; --i) {
        unsigned b = (address >> (8 * i)) & 0xFF;
        sum += b;
        s += Hex2(b);
    }
    for (uint8_t b : data) {
        sum += b;
        s += Hex2(b);
    }
    return s + Hex2(255 - (sum & 0xFF) + checksumDelta);
}

inline Bytes Seq(size_t n, uint8_t first = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(first + i);
    return b;
}

}  // namespace srtest
