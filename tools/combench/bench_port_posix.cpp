// The benchmark's port on Linux: a tty (a pty, or a serial device) in raw mode.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "bench_port.h"

namespace combench {

namespace {

class PosixPort : public BenchPort {
public:
    explicit PosixPort(int fd) : fd_(fd) {}
    ~PosixPort() override { close(fd_); }

    bool WriteAll(const uint8_t* data, size_t length) override
    {
        while (length > 0) {
            const ssize_t n = write(fd_, data, length);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                pollfd p = {fd_, POLLOUT, 0};
                if (poll(&p, 1, kWriteTimeoutMs) <= 0) return false;
                continue;
            }
            if (n <= 0) return false;
            data += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    }

    long ReadSome(uint8_t* buffer, size_t capacity, unsigned timeoutMs) override
    {
        pollfd p = {fd_, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(timeoutMs));
        if (ready < 0) return errno == EINTR ? 0 : -1;
        if (ready == 0) return 0;
        const ssize_t n = read(fd_, buffer, capacity);
        if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
        return static_cast<long>(n);
    }

private:
    static constexpr int kWriteTimeoutMs = 20000;
    int fd_;
};

speed_t SpeedOf(unsigned baud)
{
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B9600;
    }
}

}  // namespace

BenchPort* OpenBenchPort(const std::string& name, unsigned baud, std::string& error)
{
    const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio;
    if (fd < 0 || tcgetattr(fd, &tio) != 0) {
        error = "cannot open " + name + " as a tty: " + strerror(errno);
        if (fd >= 0) close(fd);
        return nullptr;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    cfsetspeed(&tio, SpeedOf(baud));
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = "cannot set up " + name + ": " + strerror(errno);
        close(fd);
        return nullptr;
    }
    return new PosixPort(fd);
}

double NowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace combench
