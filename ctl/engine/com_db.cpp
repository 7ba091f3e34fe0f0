#include "com_db.h"

#include "driver_setup.h"

namespace pta {

namespace {

// The msports calls, loaded by name so that a system without them fails cleanly.
constexpr ULONG kReportBits = 0;  // CDB_REPORT_BITS
using ComDbOpenFn = LONG(WINAPI*)(HANDLE*);
using ComDbCloseFn = LONG(WINAPI*)(HANDLE);
using ComDbUsageFn = LONG(WINAPI*)(HANDLE, BYTE*, DWORD, ULONG, DWORD*);
using ComDbClaimFn = LONG(WINAPI*)(HANDLE, DWORD, BOOL, BOOL*);
using ComDbReleaseFn = LONG(WINAPI*)(HANDLE, DWORD);
using ComDbResizeFn = LONG(WINAPI*)(HANDLE, DWORD);

struct Msports {
    ComDbOpenFn open = nullptr;
    ComDbCloseFn close = nullptr;
    ComDbUsageFn usage = nullptr;
    ComDbClaimFn claim = nullptr;
    ComDbReleaseFn release = nullptr;
    ComDbResizeFn resize = nullptr;
    bool loaded = false;
};

template <typename Fn>
void Bind(HMODULE module, const char* name, Fn* fn)
{
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const Msports& LoadMsports()
{
    static const Msports calls = [] {
        Msports m;
        HMODULE module = LoadLibraryA("msports.dll");
        if (!module) return m;
        Bind(module, "ComDBOpen", &m.open);
        Bind(module, "ComDBClose", &m.close);
        Bind(module, "ComDBGetCurrentPortUsage", &m.usage);
        Bind(module, "ComDBClaimPort", &m.claim);
        Bind(module, "ComDBReleasePort", &m.release);
        Bind(module, "ComDBResizeDatabase", &m.resize);
        m.loaded = m.open && m.close && m.usage && m.claim && m.release && m.resize;
        return m;
    }();
    return calls;
}

// Serialises the processes that keep the bitmap in the registry.
constexpr const char* kMutexName = "PortaraComNameArbiter";

class MutexHold {
public:
    explicit MutexHold(HANDLE mutex) : mutex_(mutex)
    {
        const DWORD wait = WaitForSingleObject(mutex_, INFINITE);
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    ~MutexHold()
    {
        if (held_) ReleaseMutex(mutex_);
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
    bool Held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_ = false;
};

}  // namespace

LONG ComPortDb::Open()
{
    if (IsOpen()) return ERROR_SUCCESS;
    if (!RunningUnderWine()) {
        const Msports& m = LoadMsports();
        if (!m.loaded) return ERROR_PROC_NOT_FOUND;
        HANDLE db = nullptr;
        const LONG status = m.open(&db);
        if (status != ERROR_SUCCESS) return status;
        if (db == nullptr || db == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
        msportsDb_ = db;
        return ERROR_SUCCESS;
    }

    mutex_ = CreateMutexA(nullptr, FALSE, kMutexName);
    if (!mutex_) return static_cast<LONG>(GetLastError());
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kComNameArbiterKey, 0, nullptr, 0,
                                  KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    if (status != ERROR_SUCCESS) {
        key_ = nullptr;
        Close();
        return status;
    }
    // A database never written starts empty with the smallest size; a stored one must be
    // usable before anything is done with it.
    MutexHold hold(mutex_);
    if (!hold.Held()) status = ERROR_NOT_CONNECTED;
    if (status == ERROR_SUCCESS) {
        ComDbBitmap bitmap;
        status = ReadBitmap(&bitmap);
        if (status == ERROR_FILE_NOT_FOUND)
            status = WriteBitmap(ComDbBitmap(kComDbMinPorts / 8, 0));
    }
    if (status != ERROR_SUCCESS) Close();
    return status;
}

void ComPortDb::Close()
{
    if (msportsDb_) LoadMsports().close(msportsDb_);
    msportsDb_ = nullptr;
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
    if (mutex_) CloseHandle(mutex_);
    mutex_ = nullptr;
}

LONG ComPortDb::ReadBitmap(ComDbBitmap* bitmap)
{
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key_, kComDbValue, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_BINARY || !ComDbBitmapUsable(size)) return ERROR_INVALID_DATA;
    bitmap->assign(size, 0);
    status = RegQueryValueExA(key_, kComDbValue, nullptr, &type, bitmap->data(), &size);
    if (status == ERROR_MORE_DATA) return ERROR_INVALID_DATA;  // changed under us: bad writer
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_BINARY || !ComDbBitmapUsable(size)) return ERROR_INVALID_DATA;
    bitmap->resize(size);
    return ERROR_SUCCESS;
}

LONG ComPortDb::WriteBitmap(const ComDbBitmap& bitmap)
{
    return RegSetValueExA(key_, kComDbValue, 0, REG_BINARY, bitmap.data(),
                          static_cast<DWORD>(bitmap.size()));
}

template <typename Change>
LONG ComPortDb::Update(Change change)
{
    MutexHold hold(mutex_);
    if (!hold.Held()) return ERROR_NOT_CONNECTED;
    ComDbBitmap bitmap;
    LONG status = ReadBitmap(&bitmap);
    if (status != ERROR_SUCCESS) return status;
    const ComDbBitmap before = bitmap;
    status = static_cast<LONG>(change(bitmap));
    if (status == ERROR_SUCCESS && bitmap != before) status = WriteBitmap(bitmap);
    return status;
}

LONG ComPortDb::SizeInPorts(DWORD* ports)
{
    *ports = 0;
    if (msportsDb_) return LoadMsports().usage(msportsDb_, nullptr, 0, kReportBits, ports);
    if (!key_) return ERROR_INVALID_HANDLE;
    ComDbBitmap bitmap;
    const LONG status = Usage(&bitmap);
    if (status == ERROR_SUCCESS) *ports = ComDbPorts(bitmap);
    return status;
}

LONG ComPortDb::SizeInBytes(DWORD* bytes)
{
    DWORD ports = 0;
    const LONG status = SizeInPorts(&ports);
    *bytes = status == ERROR_SUCCESS ? (ports + 7) / 8 : 0;
    return status;
}

LONG ComPortDb::Usage(ComDbBitmap* bitmap)
{
    bitmap->clear();
    if (msportsDb_) {
        DWORD ports = 0;
        LONG status = LoadMsports().usage(msportsDb_, nullptr, 0, kReportBits, &ports);
        if (status != ERROR_SUCCESS) return status;
        ComDbBitmap bits((ports + 7) / 8, 0);
        DWORD reported = 0;
        status = LoadMsports().usage(msportsDb_, bits.data(), static_cast<DWORD>(bits.size()),
                                     kReportBits, &reported);
        if (status == ERROR_SUCCESS) bitmap->swap(bits);
        return status;
    }
    if (!key_) return ERROR_INVALID_HANDLE;
    MutexHold hold(mutex_);
    if (!hold.Held()) return ERROR_NOT_CONNECTED;
    return ReadBitmap(bitmap);
}

LONG ComPortDb::Resize(DWORD ports)
{
    if (msportsDb_) return LoadMsports().resize(msportsDb_, ports);
    if (!key_) return ERROR_INVALID_HANDLE;
    return Update([ports](ComDbBitmap& bitmap) { return ComDbResize(bitmap, ports); });
}

LONG ComPortDb::Claim(DWORD comNumber, bool force, bool* forced)
{
    if (forced) *forced = false;
    if (msportsDb_) {
        BOOL wasForced = FALSE;
        const LONG status = LoadMsports().claim(msportsDb_, comNumber, force, &wasForced);
        if (forced) *forced = wasForced != FALSE;
        return status;
    }
    if (!key_) return ERROR_INVALID_HANDLE;
    bool tookTaken = false;
    const LONG status =
        Update([&](ComDbBitmap& bitmap) { return ComDbClaim(bitmap, comNumber, force, &tookTaken); });
    if (forced) *forced = status == ERROR_SUCCESS && tookTaken;
    return status;
}

LONG ComPortDb::Release(DWORD comNumber)
{
    if (msportsDb_) return LoadMsports().release(msportsDb_, comNumber);
    if (!key_) return ERROR_INVALID_HANDLE;
    return Update([comNumber](ComDbBitmap& bitmap) { return ComDbRelease(bitmap, comNumber); });
}

}  // namespace pta
