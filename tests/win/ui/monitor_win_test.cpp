// The monitor page under Wine: its columns, rows and indicators from stand-in workers,
// the timer, the stripes and the shared image lists.
#include "ui_harness.h"

#include "color_list.h"
#include "port_monitor_page.h"
#include "resource.h"

using namespace pta_test;

namespace {

class MonitorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitControls(); }
    void TearDown() override
    {
        host_.reset();
        ports_.RemoveAll();
    }

    // The page shown; its timer stopped when the test drives the ticks itself.
    void Show(bool timer = false)
    {
        host_ = std::make_unique<PageHost>(page_);
        ASSERT_TRUE(host_->Created());
        if (!timer) host_->Run([&] { KillTimer(page_.Hwnd(), CComPortMonitorDlg::kTimerId); });
        host_->Run([&] { page_.RebuildMonitor(); });
    }
    void Tick()
    {
        host_->Run([&] { page_.UpdateMonitorIndicators(); });
    }
    std::vector<int> Images(int row)
    {
        std::vector<int> images;
        for (int column = 3; column < 13; ++column) images.push_back(page_.List().CellImage(row, column));
        return images;
    }

    UiPorts ports_;
    CComPortMonitorDlg page_{ports_};
    std::unique_ptr<PageHost> host_;
};

void SetValues(FakeWorker& worker, std::initializer_list<uint32_t> values)
{
    int i = 0;
    for (uint32_t v : values) worker.values[i++] = v;
}

}  // namespace

TEST_F(MonitorTest, ColumnsRowsAndTexts)
{
    ports_.Configure(70, 12, 9, 0x0A000005, 4001);
    ports_.Configure(71, 5, 1, 0xC0A80101, 950);
    Show();
    const char* headings[] = {"  COM Port", "IPAddr (Port)", "Protocol", "ACT", "CON", "ERR", "TX",
                              "RX",         "RTS",           "CTS",      "DTR", "DSR", "DCD"};
    HWND header = reinterpret_cast<HWND>(page_.List().Send(LVM_GETHEADER));
    ASSERT_EQ(13, static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)));
    for (int i = 0; i < 13; ++i) {
        char text[64] = {};
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_FMT;
        column.pszText = text;
        column.cchTextMax = sizeof text;
        page_.List().Send(LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
        EXPECT_STREQ(headings[i], text);
        EXPECT_EQ(i == 0 ? LVCFMT_LEFT : LVCFMT_CENTER, column.fmt & LVCFMT_JUSTIFYMASK) << i;
    }
    EXPECT_EQ(0x23u, static_cast<DWORD>(page_.List().Send(LVM_GETEXTENDEDLISTVIEWSTYLE)));
    EXPECT_EQ(StatusImageList(), reinterpret_cast<HIMAGELIST>(page_.List().Send(LVM_GETIMAGELIST, LVSIL_SMALL)));

    ASSERT_EQ(2, page_.RowCount());
    EXPECT_EQ("COM5", page_.List().CellText(0, 0));
    EXPECT_EQ("192.168.1.1 (950)", page_.List().CellText(0, 1));
    EXPECT_EQ("Encryption", page_.List().CellText(0, 2));
    EXPECT_EQ(71, page_.List().RowParameter(0));
    EXPECT_EQ("COM12", page_.List().CellText(1, 0));
    EXPECT_EQ("10.0.0.5 (4001)", page_.List().CellText(1, 1));
    EXPECT_EQ("UNKNOWN", page_.List().CellText(1, 2));
    EXPECT_EQ(70, page_.RowPort(1));
    EXPECT_EQ(-1, page_.RowPort(2));
}

TEST_F(MonitorTest, ClosedPortShowsGreyWhateverTheWorkerHolds)
{
    FakeWorker& worker = ports_.Configure(70, 5);
    SetValues(worker, {1, 2, 5, 3, 4, 2, 2, 2, 2, 2});
    Show();
    EXPECT_EQ((std::vector<int>{1, 2, 5, 1, 1, 1, 1, 1, 1, 1}), Images(0));
    SetValues(worker, {2, 2, 1, 3, 4, 2, 1, 2, 1, 2});
    Tick();
    EXPECT_EQ((std::vector<int>{2, 2, 1, 3, 4, 2, 1, 2, 1, 2}), Images(0));
}

TEST_F(MonitorTest, TrafficMarksShowForOneTickAndTxStaysGreenWhileMarked)
{
    FakeWorker& worker = ports_.Configure(70, 5);
    SetValues(worker, {2, 2, 1, 1, 1, 1, 1, 1, 1, 1});
    Show();
    for (int tick = 0; tick < 5; ++tick) {
        worker.values[3] = 3;  // the worker sent something since the last tick
        Tick();
        EXPECT_EQ(3, page_.List().CellImage(0, 6)) << "tick " << tick;
        EXPECT_EQ(1u, worker.values[3].load()) << "the monitor resets TX after it looked";
    }
    worker.values[4] = 4;
    Tick();
    EXPECT_EQ(1, page_.List().CellImage(0, 6)) << "no traffic since the last tick: grey";
    EXPECT_EQ(4, page_.List().CellImage(0, 7));
    Tick();
    EXPECT_EQ(1, page_.List().CellImage(0, 7));
}

TEST_F(MonitorTest, TheTimerKeepsUpdating)
{
    FakeWorker& worker = ports_.Configure(70, 5);
    SetValues(worker, {2, 2, 1, 1, 1, 1, 1, 1, 1, 1});
    Show(true);
    // The rate is the benchmark's business; here the timer must simply keep running.
    const int before = worker.resets;
    EXPECT_TRUE(WaitFor([&] { return worker.resets >= before + 5; })) << "the timer stopped";
    worker.values[5] = 2;  // RTS on
    EXPECT_TRUE(WaitFor([&] {
        int image = 0;
        host_->Run([&] { image = page_.List().CellImage(0, 8); });
        return image == 2;
    }));
}

TEST_F(MonitorTest, RebuildDrawsEveryCellOnceAndAQuietTickNone)
{
    for (uint32_t i = 0; i < 6; ++i) ports_.Configure(60 + i, 20 + i);
    Show();
    const uint64_t afterFirst = page_.CellsSent();
    Tick();
    EXPECT_EQ(afterFirst, page_.CellsSent()) << "nothing changed: nothing is sent";
    host_->Run([&] { page_.RebuildMonitor(); });
    EXPECT_EQ(afterFirst + 60, page_.CellsSent()) << "a rebuild draws all ten cells of every row";
    ports_.Fake(62)->values[1] = 2;
    Tick();
    EXPECT_EQ(afterFirst + 61, page_.CellsSent());
}

TEST_F(MonitorTest, APortWithoutWorkerKeepsItsImages)
{
    FakeWorker& worker = ports_.Configure(70, 5);
    SetValues(worker, {2, 2, 1, 1, 1, 2, 2, 2, 2, 2});
    Show();
    const std::vector<int> shown = Images(0);
    ports_.RemoveAll();  // the worker goes; the row stays until the next rebuild
    Tick();
    EXPECT_EQ(shown, Images(0));
}

TEST_F(MonitorTest, WidthsFollowTheListClientWidth)
{
    Show();
    RECT window{}, client{};
    GetWindowRect(page_.List().Hwnd(), &window);
    GetClientRect(page_.List().Hwnd(), &client);
    const int frame = (window.right - window.left) - client.right;
    host_->Run([&] { page_.LayoutPage(190 + frame + 10, 300); });
    ASSERT_EQ(190, page_.List().ClientWidth());
    EXPECT_EQ(20, page_.List().ColumnWidth(0));
    EXPECT_EQ(50, page_.List().ColumnWidth(1));
    EXPECT_EQ(20, page_.List().ColumnWidth(2));
    for (int i = 3; i < 13; ++i) EXPECT_EQ(10, page_.List().ColumnWidth(i)) << i;
    const RECT list = [&] {
        RECT r{};
        GetWindowRect(page_.List().Hwnd(), &r);
        MapWindowPoints(HWND_DESKTOP, page_.Hwnd(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }();
    EXPECT_EQ(5, list.left);
    EXPECT_EQ(5, list.top);
    EXPECT_EQ(300 - 15, list.bottom - list.top);
}

TEST_F(MonitorTest, AColumnCannotBeDraggedBelowFivePixels)
{
    Show();
    HWND header = reinterpret_cast<HWND>(page_.List().Send(LVM_GETHEADER));
    for (int width : {0, 4, 5, 30}) {
        HDITEMA item{};
        item.mask = HDI_WIDTH;
        item.cxy = width;
        NMHEADERA change{};
        change.hdr.hwndFrom = header;
        change.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(header));
        change.hdr.code = HDN_ITEMCHANGINGA;
        change.iItem = 1;
        change.pitem = &item;
        const LRESULT refused =
            SendMessageA(page_.List().Hwnd(), WM_NOTIFY, change.hdr.idFrom, reinterpret_cast<LPARAM>(&change));
        EXPECT_EQ(width < 5, refused != 0) << width;
        change.hdr.code = HDN_ITEMCHANGINGW;
        const LRESULT refusedWide =
            SendMessageA(page_.List().Hwnd(), WM_NOTIFY, change.hdr.idFrom, reinterpret_cast<LPARAM>(&change));
        EXPECT_EQ(width < 5, refusedWide != 0) << width;
    }
}

TEST_F(MonitorTest, StripesFollowTheRowIndexWhenScrolled)
{
    for (uint32_t i = 0; i < 40; ++i) ports_.Configure(100 + i, 30 + i);
    Show();
    for (int top : {0, 1, 3}) {
        SCOPED_TRACE(top);
        host_->Run([&] {
            page_.List().Send(LVM_ENSUREVISIBLE, 0, FALSE);
            RECT row{};
            row.left = LVIR_BOUNDS;
            page_.List().Send(LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
            page_.List().Send(LVM_SCROLL, 0, top * (row.bottom - row.top));
            UpdateWindow(page_.List().Hwnd());
        });
        int first = -1;
        host_->Run([&] { first = static_cast<int>(page_.List().Send(LVM_GETTOPINDEX)); });
        ASSERT_EQ(top, first);
        for (int row = first; row < first + 4; ++row) {
            NMLVCUSTOMDRAW draw{};
            draw.nmcd.hdr.hwndFrom = page_.List().Hwnd();
            draw.nmcd.hdr.idFrom = IDC_MONITOR_LIST;
            draw.nmcd.hdr.code = NM_CUSTOMDRAW;
            draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
            draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
            draw.iSubItem = 1;
            LRESULT result = -1;
            host_->Run([&] {
                result = SendMessageA(page_.Hwnd(), WM_NOTIFY, IDC_MONITOR_LIST, reinterpret_cast<LPARAM>(&draw));
                result = GetWindowLongPtrA(page_.Hwnd(), DWLP_MSGRESULT);
            });
            EXPECT_EQ(CDRF_DODEFAULT, result);
            EXPECT_EQ(row % 2 == 0 ? kEvenRowColour : kOddRowColour, draw.clrTextBk) << row;
            EXPECT_EQ(0u, draw.clrText);
        }
        // What the screen shows: the odd rows' band is not white.
        host_->Run([&] {
            HDC dc = GetDC(page_.List().Hwnd());
            for (int row = first; row < first + 4; ++row) {
                RECT cell{};
                cell.top = 1;
                cell.left = LVIR_BOUNDS;
                page_.List().Send(LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
                const COLORREF pixel = GetPixel(dc, cell.right - 3, (cell.top + cell.bottom) / 2);
                EXPECT_EQ(row % 2 == 0, pixel == RGB(255, 255, 255)) << "row " << row << " pixel " << std::hex << pixel;
            }
            ReleaseDC(page_.List().Hwnd(), dc);
        });
    }
}

TEST(SharedImageLists, SixStatusImagesAndThreeChecksOfSixteenByFourteen)
{
    InitControls();
    CreateSharedImageLists();
    HIMAGELIST status = StatusImageList();
    HIMAGELIST checks = CheckImageList();
    ASSERT_NE(nullptr, status);
    ASSERT_NE(nullptr, checks);
    CreateSharedImageLists();
    EXPECT_EQ(status, StatusImageList()) << "created once";
    EXPECT_EQ(6, ImageList_GetImageCount(status));
    EXPECT_EQ(3, ImageList_GetImageCount(checks));
    int cx = 0, cy = 0;
    ImageList_GetIconSize(status, &cx, &cy);
    EXPECT_EQ(16, cx);
    EXPECT_EQ(14, cy);
    // The balls' colours at their centres: grey, blue, green, orange, red.
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 14);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const struct {
        int image;
        bool red, green, blue;  // which channels dominate
    } balls[] = {{2, false, false, true}, {3, false, true, false}, {5, true, false, false}};
    for (const auto& ball : balls) {
        RECT all{0, 0, 16, 14};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ImageList_Draw(status, ball.image, dc, 0, 0, ILD_NORMAL);
        const COLORREF c = GetPixel(dc, 9, 8);
        EXPECT_EQ(ball.red, GetRValue(c) > 150) << ball.image << " " << std::hex << c;
        EXPECT_EQ(ball.green, GetGValue(c) > 150) << ball.image << " " << std::hex << c;
        EXPECT_EQ(ball.blue, GetBValue(c) > 150) << ball.image << " " << std::hex << c;
        EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, 0, 0)) << "white corners are transparent";
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}
