// The monitor page's rules: column widths, the address text, and the indicator cache that
// lets a tick send only the cells that changed. Also the list's stripe colours and its
// custom draw answers, shared by both list pages.
#pragma once

#include <stdint.h>

#include <array>
#include <string>

namespace pta::ui {

constexpr int kMonitorColumns = 13;
constexpr int kIndicatorColumns = 10;
constexpr int kFirstIndicatorColumn = 3;
constexpr int kMonitorRows = 256;

// Images of the status list: 0 empty, 1 grey, 2 blue, 3 green, 4 orange, 5 red.
constexpr uint32_t kImageGrey = 1;
constexpr uint32_t kImageBlue = 2;
constexpr int kStatusImageCount = 6;
constexpr int kCheckImageCount = 3;

// The widths of the thirteen columns for a list client width.
std::array<int, kMonitorColumns> MonitorColumnWidths(int clientWidth);

// "10.0.0.5 (4001)".
std::string AddressWithPort(uint32_t ipAddress, uint32_t tcpPort);

// The image an indicator shows: TX, RX and the modem lines are grey while no application
// has the port open, whatever the worker holds.
inline uint32_t ShownIndicator(const uint32_t (&status)[kIndicatorColumns], int i)
{
    return i >= 3 && status[0] != kImageBlue ? kImageGrey : status[i];
}

// The image last drawn in every indicator cell, by row.
class IndicatorCache {
public:
    // Every cell of the first `rows` rows is drawn at the next update.
    void Invalidate(int rows);

    // Compares a row's shown values with what was drawn, calls set(column, image) for each
    // cell that changed and remembers it. Returns the number of cells sent.
    template <typename SetCell>
    int UpdateRow(int row, const uint32_t (&status)[kIndicatorColumns], SetCell set)
    {
        if (row < 0 || row >= kMonitorRows) return 0;
        int sent = 0;
        for (int i = 0; i < kIndicatorColumns; ++i) {
            const uint32_t shown = ShownIndicator(status, i);
            if (cells_[row][i] == shown) continue;
            set(kFirstIndicatorColumn + i, shown);
            cells_[row][i] = shown;
            ++sent;
        }
        return sent;
    }

    uint32_t Cell(int row, int i) const { return cells_[row][i]; }

private:
    // A value no worker holds: a cell marked with it is drawn at the next update, whatever
    // the worker's value (0, the empty image, included).
    static constexpr uint32_t kUndrawn = 0xFFFFFFFF;
    uint32_t cells_[kMonitorRows][kIndicatorColumns] = {};
};

// Stripe colour of a row: by its index in the list, not its place on screen.
inline uint32_t StripeColour(int row, uint32_t even, uint32_t odd) { return row % 2 == 0 ? even : odd; }

// Custom draw answers: prepaint asks for item notifications, an item asks for sub-item
// notifications, everything else draws by default.
struct CustomDrawAnswer {
    uint32_t result;
    bool setTextColours;  // black text, and the stripe background for a sub-item
};
CustomDrawAnswer CustomDrawFor(uint32_t stage);

}  // namespace pta::ui
