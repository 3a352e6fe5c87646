#include "station/FileDigest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/HexText.h"

namespace station {
namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

Context NewSha256() {
    Context ctx(EVP_MD_CTX_new());
    if (ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        ctx.reset();
    return ctx;
}

std::optional<std::string> Finish(EVP_MD_CTX* ctx) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx, digest, &size) != 1)
        return std::nullopt;
    std::string hex;
    platform::AppendHex(hex, digest, size, platform::HexCase::Lower);
    return hex;
}

}  // namespace

std::string Sha256Hex(const void* data, size_t size) {
    Context ctx = NewSha256();
    if (!ctx || EVP_DigestUpdate(ctx.get(), data, size) != 1)
        return {};
    return Finish(ctx.get()).value_or(std::string());
}

std::optional<std::string> Sha256File(const std::string& path, std::string& error) {
    // Without blocking, so that a FIFO without a writer is refused instead of hanging the open.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    auto fail = [&](const std::string& reason) {
        error = path + ": " + reason;
        close(fd);
        return std::nullopt;
    };
    struct stat st;
    if (fstat(fd, &st) != 0)
        return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail("not a regular file");
    Context ctx = NewSha256();
    if (!ctx)
        return fail("SHA-256 is not available");
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(std::strerror(errno));
        if (n == 0)
            break;
        if (EVP_DigestUpdate(ctx.get(), buffer, static_cast<size_t>(n)) != 1)
            return fail("SHA-256 failed");
    }
    close(fd);
    std::optional<std::string> hex = Finish(ctx.get());
    if (!hex)
        error = path + ": SHA-256 failed";
    return hex;
}

}  // namespace station
