// CCommonControl: the process-wide port manager of the control program. It owns the table
// of port workers and its mutex, the map of configured ports that the pages list, and the
// registry operations on HKEY_LOCAL_MACHINE that every part of the program uses.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "port_config.h"
#include "port_reload.h"
#include "port_worker_base.h"
#include "registry_layout.h"

namespace pta {

// Access masks of the registry operations: KEY_READ, and KEY_READ | KEY_WRITE.
constexpr REGSAM kRegReadAccess = 0x20019;
constexpr REGSAM kRegWriteAccess = 0x2001F;

// The port subkey of a slot ("SOFTWARE\Kelvor\Portara\0005") and the key that holds the
// PortName of the slot's bus child.
std::string SlotSubkey(uint32_t slot);
std::string ChildParametersKey(uint32_t slot);

class CCommonControl {
public:
    CCommonControl();
    virtual ~CCommonControl();
    CCommonControl(const CCommonControl&) = delete;
    CCommonControl& operator=(const CCommonControl&) = delete;

    // Registry operations on subkeys of the root; each opens and closes its key and
    // returns 1 on success, 0 on failure.
    int WriteDword(const char* subkey, const char* name, DWORD value);
    // Output 0 on failure; only a REG_DWORD of 4 bytes is read.
    int ReadDword(const char* subkey, const char* name, DWORD* value);
    // Stores at most 63 bytes of text as a zero-filled 64-byte REG_MULTI_SZ.
    int WriteString(const char* subkey, const char* name, const char* text);
    // Reads a comment (REG_MULTI_SZ or REG_SZ of at most 64 bytes with its terminating
    // zero); output empty on failure.
    int ReadString(const char* subkey, const char* name, std::string* text);
    int KeyExists(const char* subkey);
    // Removes the subkey with everything below it; 1 once it is gone. Refuses an empty
    // subkey, which would name the root itself.
    int DeleteKey(const char* subkey);

    // Rebuilds the map of configured ports under the table mutex, creating missing
    // defaults and applying a COM number changed in Device Manager. 1 if any port is listed.
    int ReloadPortSettings();

    // The table mutex: guards the workers table, each worker's existence and the map.
    // A Win32 mutex, so the owning thread may take it again (a modal box shown under it
    // runs the same thread's window procedures).
    HANDLE TableMutex() const { return tableMutex_; }

    // The configured ports by COM number; read under the table mutex.
    const PortConfigMap& Ports() const { return portConfigMap_; }

    // The worker of a slot, or null; under the table mutex.
    PortWorkerBase* Worker(uint32_t slot) const;
    // Puts a worker into a free or occupied slot (the previous one is freed); null clears
    // the slot. Under the table mutex.
    void SetWorker(uint32_t slot, std::unique_ptr<PortWorkerBase> worker);
    // Takes a worker out of the table without freeing it; under the table mutex.
    std::unique_ptr<PortWorkerBase> TakeWorker(uint32_t slot);

    // Start-up of the program, in order: single-instance guard, COM port database check,
    // bus attach, Windows Sockets, and StartPorts(5). 1 = run; 0 = exit (after its message,
    // or silently when another copy runs and was brought forward).
    int StartUp();
    // Stops every worker, cleans up sockets, detaches the bus and closes the section. Runs
    // once; later calls do nothing.
    void TearDown();

    // Starts a worker for every configured slot and stops the workers of slots no longer
    // configured (unless in use), trying rounds x 10 times 100 ms apart. 1 once every
    // configured slot has a running worker.
    int StartPorts(int rounds);
    // 1 if the slot's worker exists and an application has its port open; slot -1: any.
    int IsPortInUse(int slot);
    // Stops and frees the slot's worker unless its port is in use.
    void StopPort(int slot);
    // Closes the port under its application and then takes the port over briefly
    // ("COM5" names it). 1 on success.
    int ForceClosePort(int slot, const char* comName);
    // Publishes the main window to a later copy of the program.
    void SetMainWindow(HWND window);
    // Told on a worker's thread when an application opens or closes a slot's port; given
    // to every worker that StartPorts creates afterwards.
    void SetSlotOpenCallback(std::function<void(uint32_t slot, bool open)> callback)
    {
        slotOpenCallback_ = std::move(callback);
    }
    // Opens the bus control interface and registers with it (1 at once while open), or
    // unregisters and closes it.
    int BusAttach();
    int BusDetach();

protected:
    // The two ways a key is opened; a test may stand in for the registry here.
    virtual LONG OpenKey(const char* subkey, REGSAM access, HKEY* key);
    virtual LONG CreateKey(const char* subkey, REGSAM access, HKEY* key);

    // Reads with the outcome told apart: a missing value, or one that cannot be used.
    ValueRead ReadDwordValue(const char* subkey, const char* name, DWORD* value);
    // Text of at most bufferBytes - 1 bytes; REG_SZ, and also REG_MULTI_SZ when allowed. A
    // value that is too long, lacks its zero or is of another string or binary type is
    // Unusable, and `text` still gets what it holds up to its first zero (cut likewise).
    ValueRead ReadTextValue(const char* subkey, const char* name, DWORD bufferBytes,
                            bool multiString, std::string* text);

    HKEY root_ = HKEY_LOCAL_MACHINE;
    HANDLE tableMutex_ = nullptr;
    PortWorkerBase* workers_[kPortSlotCount] = {};
    PortConfigMap portConfigMap_;
    HANDLE busHandle_ = INVALID_HANDLE_VALUE;
    HANDLE busEvent_ = INVALID_HANDLE_VALUE;
    HANDLE section_ = nullptr;
    bool socketsStarted_ = false;
    bool tornDown_ = false;
    std::function<void(uint32_t, bool)> slotOpenCallback_;

private:
    class ReloadHost;

    // Creates the section ComPtaMap. False when another copy made it first: that copy's
    // window is brought forward and the section is not kept. A section that cannot be made
    // at all leaves the program without the guard.
    bool ClaimSection();
    void CloseSection();

    // Opens for reading, once more after access denied.
    LONG OpenForRead(const char* subkey, HKEY* key);
};

// The one port manager of the process, constructed before the application starts.
CCommonControl& TheCommonControl();

// Holds the table mutex for a scope.
class TableLock {
public:
    explicit TableLock(HANDLE mutex) : mutex_(mutex) { WaitForSingleObject(mutex_, INFINITE); }
    ~TableLock() { ReleaseMutex(mutex_); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

private:
    HANDLE mutex_;
};

}  // namespace pta
