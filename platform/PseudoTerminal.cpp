#include "platform/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/TermiosIo.h"

namespace platform {

PseudoTerminal::~PseudoTerminal() {
    Close();
}

bool PseudoTerminal::Open(bool keepSlaveOpen) {
    Close();
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0)
        return false;
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        close(m);
        return false;
    }
    master_ = m;
    slavePath_ = name;
    // Raw on the slave's line discipline, so that every byte passes untouched both ways.
    int s = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0 || !termios_io::MakeRaw(s)) {
        if (s >= 0)
            close(s);
        Close();
        return false;
    }
    if (keepSlaveOpen)
        slaveKeeper_ = s;
    else
        close(s);
    return true;
}

void PseudoTerminal::CloseMaster() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

void PseudoTerminal::Close() {
    CloseMaster();
    if (slaveKeeper_ >= 0)
        close(slaveKeeper_);
    slaveKeeper_ = -1;
    slavePath_.clear();
}

}  // namespace platform
