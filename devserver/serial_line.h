// The far end of the bridge: a pty made here, or a serial device. The settings that the
// engine announces (baud index, line control, DTR and RTS) are applied to its termios and
// modem lines; a serial device's modem lines become the modem status byte.
#pragma once

#include <stdint.h>
#include <termios.h>

#include <memory>
#include <string>

namespace devsrv {

// termios speed of a baud index; false for an index outside the table.
bool SpeedOfBaudIndex(uint32_t index, speed_t& speed);

// Sets word length, stop bits and parity of a line control byte into `tio`; returns the
// short form, for example "8N1" or "7E2".
std::string ApplyLineControl(struct termios& tio, uint8_t lineControl);

// The 16550 modem status byte of TIOCMGET line bits, with the change bits against the
// status last reported.
uint8_t ModemStatusOfLines(int lines, uint8_t previous);

class SerialLine {
public:
    // A new pty; Path() names the side that a terminal program opens.
    static std::unique_ptr<SerialLine> OpenPty(std::string& error);
    // A serial device (or any terminal), raw, 9600 8N1 until told otherwise.
    static std::unique_ptr<SerialLine> OpenDevice(const std::string& path, std::string& error);
    ~SerialLine();

    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    bool IsPty() const { return isPty_; }

    // Each returns a line to print, or an empty string when nothing was applied.
    std::string ApplyBaud(uint8_t index);
    std::string ApplyLine(uint8_t lineControl);
    std::string ApplyModemControl(uint8_t modemControl);
    // Reads the modem lines; false when the device has none (a pty).
    bool ReadModemStatus(uint8_t previous, uint8_t& status);

private:
    SerialLine() = default;
    std::string SetAttributes(const struct termios& tio, const std::string& what);

    int fd_ = -1;
    int keepOpen_ = -1;  // a pty's own side, held so that the pty never hangs up
    bool isPty_ = false;
    bool breakOn_ = false;
    std::string path_;
};

}  // namespace devsrv
