#include "serial_line.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "link_channel.h"

namespace devsrv {

namespace {

const speed_t kSpeeds[pta::kBaudCount] = {
    B150, B300, B600, B1200, B2400, B4800, B9600, B19200, B38400, B57600,
    B115200, B230400, B460800, B921600,
};

struct ModemLine {
    int tiocm;
    uint8_t status;  // bit in the modem status byte
    uint8_t change;  // its change bit
};
const ModemLine kModemLines[] = {
    {TIOCM_CTS, pta::kModemStatusCts, 0x01},
    {TIOCM_DSR, pta::kModemStatusDsr, 0x02},
    {TIOCM_RI, pta::kModemStatusRi, 0x04},
    {TIOCM_CD, pta::kModemStatusDcd, 0x08},
};

void MakeRaw(struct termios& tio)
{
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

}  // namespace

bool SpeedOfBaudIndex(uint32_t index, speed_t& speed)
{
    if (index >= pta::kBaudCount) return false;
    speed = kSpeeds[index];
    return true;
}

std::string ApplyLineControl(struct termios& tio, uint8_t lineControl)
{
    static const tcflag_t kSizes[4] = {CS5, CS6, CS7, CS8};
    const unsigned bits = lineControl & pta::kLineWordLengthMask;
    tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    tio.c_cflag |= kSizes[bits];
    if (lineControl & pta::kLineExtraStopBits) tio.c_cflag |= CSTOPB;
    char parity = 'N';
    switch (lineControl & pta::kLineParityMask) {
    case pta::kLineParityOdd: tio.c_cflag |= PARENB | PARODD; parity = 'O'; break;
    case pta::kLineParityEven: tio.c_cflag |= PARENB; parity = 'E'; break;
    case pta::kLineParityMark: tio.c_cflag |= PARENB | PARODD | CMSPAR; parity = 'M'; break;
    case pta::kLineParitySpace: tio.c_cflag |= PARENB | CMSPAR; parity = 'S'; break;
    default: break;  // none (and the reserved odd-looking codes without the enable bit)
    }
    std::string text = std::to_string(5 + bits) + parity;
    if (lineControl & pta::kLineExtraStopBits) text += bits == 0 ? "1.5" : "2";
    else text += "1";
    return text;
}

uint8_t ModemStatusOfLines(int lines, uint8_t previous)
{
    uint8_t status = 0;
    for (const ModemLine& l : kModemLines) {
        const bool now = (lines & l.tiocm) != 0;
        const bool before = (previous & l.status) != 0;
        if (now) status |= l.status;
        // Ring indicator reports its trailing edge only, the others every change.
        const bool changed = l.tiocm == TIOCM_RI ? (before && !now) : (before != now);
        if (changed) status |= l.change;
    }
    return status;
}

std::unique_ptr<SerialLine> SerialLine::OpenPty(std::string& error)
{
    std::unique_ptr<SerialLine> line(new SerialLine());
    line->isPty_ = true;
    line->fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd_ < 0 || grantpt(line->fd_) != 0 || unlockpt(line->fd_) != 0) {
        error = std::string("cannot make a pty: ") + strerror(errno);
        return nullptr;
    }
    const char* name = ptsname(line->fd_);
    if (name == nullptr) {
        error = std::string("cannot name the pty: ") + strerror(errno);
        return nullptr;
    }
    line->path_ = name;
    line->keepOpen_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios tio;
    if (line->keepOpen_ < 0 || tcgetattr(line->keepOpen_, &tio) != 0) {
        error = "cannot open " + line->path_ + ": " + strerror(errno);
        return nullptr;
    }
    MakeRaw(tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(line->keepOpen_, TCSANOW, &tio);
    return line;
}

std::unique_ptr<SerialLine> SerialLine::OpenDevice(const std::string& path, std::string& error)
{
    std::unique_ptr<SerialLine> line(new SerialLine());
    line->path_ = path;
    line->fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct termios tio;
    if (line->fd_ < 0 || tcgetattr(line->fd_, &tio) != 0) {
        error = "cannot open " + path + " as a serial device: " + strerror(errno);
        return nullptr;
    }
    MakeRaw(tio);
    cfsetspeed(&tio, B9600);
    if (tcsetattr(line->fd_, TCSANOW, &tio) != 0) {
        error = "cannot set up " + path + ": " + strerror(errno);
        return nullptr;
    }
    return line;
}

SerialLine::~SerialLine()
{
    if (breakOn_) ioctl(fd_, TIOCCBRK);
    if (keepOpen_ >= 0) close(keepOpen_);
    if (fd_ >= 0) close(fd_);
}

std::string SerialLine::SetAttributes(const struct termios& tio, const std::string& what)
{
    const int fd = isPty_ ? keepOpen_ : fd_;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return "serial failed " + what + " " + strerror(errno);
    return "serial " + what;
}

std::string SerialLine::ApplyBaud(uint8_t index)
{
    speed_t speed;
    struct termios tio;
    const int fd = isPty_ ? keepOpen_ : fd_;
    if (!SpeedOfBaudIndex(index, speed) || tcgetattr(fd, &tio) != 0) return std::string();
    cfsetspeed(&tio, speed);
    return SetAttributes(tio, "baud " + std::to_string(pta::BaudTable[index]));
}

std::string SerialLine::ApplyLine(uint8_t lineControl)
{
    struct termios tio;
    const int fd = isPty_ ? keepOpen_ : fd_;
    if (tcgetattr(fd, &tio) != 0) return std::string();
    const std::string text = SetAttributes(tio, "line " + ApplyLineControl(tio, lineControl));
    const bool wantBreak = (lineControl & pta::kLineBreak) != 0;
    if (wantBreak != breakOn_ && !isPty_) {
        ioctl(fd_, wantBreak ? TIOCSBRK : TIOCCBRK);
        breakOn_ = wantBreak;
        return text + "\nserial break " + (wantBreak ? "1" : "0");
    }
    return text;
}

std::string SerialLine::ApplyModemControl(uint8_t modemControl)
{
    const int dtr = (modemControl & pta::kModemControlDtr) ? 1 : 0;
    const int rts = (modemControl & pta::kModemControlRts) ? 1 : 0;
    const std::string text = "serial dtr " + std::to_string(dtr) + " rts " + std::to_string(rts);
    if (isPty_) return text;  // a pty has no modem lines
    int set = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    int clear = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
    if ((set && ioctl(fd_, TIOCMBIS, &set) != 0) || (clear && ioctl(fd_, TIOCMBIC, &clear) != 0))
        return "serial failed dtr/rts " + std::string(strerror(errno));
    return text;
}

bool SerialLine::ReadModemStatus(uint8_t previous, uint8_t& status)
{
    int lines = 0;
    if (isPty_ || ioctl(fd_, TIOCMGET, &lines) != 0) return false;
    status = ModemStatusOfLines(lines, previous);
    return true;
}

}  // namespace devsrv
