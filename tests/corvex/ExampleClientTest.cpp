// The example caller rnc-client as a program: its exit status, its refusal of device IDs the
// library would read as another device, and why a connection failed.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "support/Subprocess.h"

namespace {

struct Ran {
    int status;
    std::string out, err;
};

Ran Client(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {RNC_CLIENT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    Subprocess p(argv);
    p.CloseInput();
    const int status = p.Wait(60000);
    return {status, p.out, p.err};
}

std::vector<std::string> Ports(int in, int out) {
    return {"--in-port", std::to_string(in), "--out-port", std::to_string(out), "--listen", "0"};
}

// A loopback port that refuses connections: bound, so no one else takes it, but not listening.
class RefusingPort {
  public:
    RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
    }
    ~RefusingPort() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int port = -1;

  private:
    int fd_;
};

// The frames the simulator logged on the out connection, up to the close message.
std::vector<std::string> OutFrames(SimProcess& sim) {
    std::vector<std::string> frames;
    for (std::string f; (f = sim.NextFrame("OUT", 5000)) != "<none>";) {
        frames.push_back(f);
        if (f.rfind("0006000472", 0) == 0)
            break;
    }
    return frames;
}

}  // namespace

TEST(ExampleClient, SessionExitsZeroAndRegistersTheDeviceGiven) {
    SimProcess sim;
    ASSERT_TRUE(sim.ok());
    auto args = Ports(sim.inPort, sim.outPort);
    args.insert(args.end(), {"--device", "0XA0b1C2d3"});
    const Ran r = Client(args);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("DeRegisterDevice: 0\nended\n"), std::string::npos) << r.out;
    // Register and de-register carry the four bytes of the ID, first pair first.
    const auto frames = OutFrames(sim);
    EXPECT_NE(std::find(frames.begin(), frames.end(), "000E000006001324A0B1C2D3010201030100"),
              frames.end());
    EXPECT_NE(std::find(frames.begin(), frames.end(), "0009000007001244A0B1C2D301"), frames.end());
}

TEST(ExampleClient, FailedCallExitsOneAfterTheSession) {
    SimProcess sim({"--refuse", "29"});  // the upload is refused
    ASSERT_TRUE(sim.ok());
    const Ran r = Client(Ports(sim.inPort, sim.outPort));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("RegisterDevice 0012AB34: 0\nUpload: 19\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("DeRegisterDevice: 0\nended\n"), std::string::npos) << r.out;
}

TEST(ExampleClient, DeviceOtherThanEightHexDigitsIsRefusedBeforeConnecting) {
    SimProcess sim;
    ASSERT_TRUE(sim.ok());
    for (const std::string id :
         {"ZZ", "", "0012AB3", "0012AB345", "0012AB3G", "0x12AB34", "x0012AB34", " 0012AB34",
          "0x0012AB34 ", "123456789012345678901234567890"}) {
        SCOPED_TRACE("'" + id + "'");
        auto args = Ports(sim.inPort, sim.outPort);
        args.insert(args.end(), {"--device", id});
        const Ran r = Client(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "rnc-client: --device takes 8 hex digits (0x before them allowed)\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(sim.Seen("RECV ")) << "nothing reached the server";
    // With or without the prefix, eight digits go through.
    for (const std::string id : {"0012ab34", "0x0012AB34"}) {
        auto args = Ports(sim.inPort, sim.outPort);
        args.insert(args.end(), {"--device", id});
        EXPECT_EQ(Client(args).status, 0) << id;
    }
}

TEST(ExampleClient, FailedConnectSaysWhy) {
    SimProcess sim;
    ASSERT_TRUE(sim.ok());
    RefusingPort refusing;
    ASSERT_GT(refusing.port, 0);
    const std::string why =
        "127.0.0.1 port " + std::to_string(refusing.port) + ": Connection refused";
    // No server at all, and a server on the out port only: the port that refused is named.
    for (const auto& ports :
         {Ports(refusing.port, refusing.port), Ports(refusing.port, sim.outPort),
          Ports(sim.inPort, refusing.port)}) {
        auto args = ports;
        args.insert(args.end(), {"--connect-wait", "0"});
        const Ran r = Client(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "connect failed: " + why + "\n") << ports[1] << " " << ports[3];
    }
}
