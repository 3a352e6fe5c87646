#include "station/FileDigest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TempDir.h"

namespace {

struct Vector {
    std::string data;
    const char* sha256;
};

// Published SHA-256 test vectors; the million 'a's span many read chunks.
const Vector kVectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

}  // namespace

TEST(FileDigest, KnownVectorsInMemoryAndInAFile) {
    TempDir dir;
    for (const Vector& v : kVectors) {
        const std::string label = v.data.substr(0, 16) + " (" + std::to_string(v.data.size()) + ")";
        EXPECT_EQ(station::Sha256Hex(v.data.data(), v.data.size()), v.sha256) << label;
        const std::string path = dir.Write("image.bin", v.data);
        std::string error;
        const std::optional<std::string> digest = station::Sha256File(path, error);
        ASSERT_TRUE(digest) << label << ": " << error;
        EXPECT_EQ(*digest, v.sha256) << label;
    }
}

TEST(FileDigest, UnreadableOrSpecialFilesAreErrorsNamingThePath) {
    TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {dir.File("missing.bin"), dir.path(), fifo, std::string("/dev/null")}) {
        std::string error;
        EXPECT_FALSE(station::Sha256File(path, error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
}
