/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The SBUS Channel developers
 *
 * Loaded into a program under Wine by wine-launch.exe, for the tests only.
 *
 * Qt's Windows serial port waits for received bytes with
 * NtDeviceIoControlFile(IOCTL_SERIAL_WAIT_ON_MASK) passing a completion APC
 * and no event, as Windows allows. Wine 8.0 takes a missing event to mean a
 * synchronous call: it blocks the caller until a byte arrives (which it never
 * does, since the request that would bring one cannot be written meanwhile)
 * and never queues the APC. On a pseudo-terminal it also gives up at once,
 * because the line has no modem status (ptymodem.so answers that part).
 *
 * Here the wait is given an event of its own, so Wine returns at once, and a
 * watcher thread queues the caller's APC when the event fires: what Windows
 * does itself. Nothing else changes, and the program's own files are not
 * touched.
 */
#include <windows.h>
#include <winternl.h>

#ifndef IOCTL_SERIAL_WAIT_ON_MASK
#define IOCTL_SERIAL_WAIT_ON_MASK 0x001b0048
#endif
#ifndef STATUS_PENDING
#define STATUS_PENDING ((NTSTATUS)0x00000103L)
#endif

typedef NTSTATUS(NTAPI *DeviceIoControlFn)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK,
                                           ULONG, PVOID, ULONG, PVOID, ULONG);
typedef FARPROC(WINAPI *GetProcAddressFn)(HMODULE, LPCSTR);

static DeviceIoControlFn realDeviceIoControl;
static GetProcAddressFn realGetProcAddress;

struct pending {
    HANDLE event;
    HANDLE thread; /* the caller, whose alertable wait runs the APC */
    PIO_APC_ROUTINE apc;
    PVOID context;
    PIO_STATUS_BLOCK io;
};

static void CALLBACK deliver(ULONG_PTR arg)
{
    struct pending *p = (struct pending *)arg;
    p->apc(p->context, p->io, 0);
    CloseHandle(p->thread);
    HeapFree(GetProcessHeap(), 0, p);
}

static DWORD WINAPI watch(LPVOID arg)
{
    struct pending *p = (struct pending *)arg;
    WaitForSingleObject(p->event, INFINITE);
    CloseHandle(p->event);
    p->event = NULL;
    if (!QueueUserAPC(deliver, p->thread, (ULONG_PTR)p)) {
        CloseHandle(p->thread);
        HeapFree(GetProcessHeap(), 0, p);
    }
    return 0;
}

static NTSTATUS NTAPI hookedDeviceIoControl(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID context,
                                            PIO_STATUS_BLOCK io, ULONG code, PVOID in, ULONG inSize,
                                            PVOID out, ULONG outSize)
{
    if (code != IOCTL_SERIAL_WAIT_ON_MASK || event || !apc)
        return realDeviceIoControl(file, event, apc, context, io, code, in, inSize, out, outSize);

    struct pending *p = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *p);
    if (!p)
        return realDeviceIoControl(file, event, apc, context, io, code, in, inSize, out, outSize);
    p->event = CreateEventW(NULL, TRUE, FALSE, NULL);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &p->thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    p->apc = apc;
    p->context = context;
    p->io = io;
    NTSTATUS status = realDeviceIoControl(file, p->event, NULL, NULL, io, code, in, inSize, out, outSize);
    if (status == STATUS_PENDING) {
        HANDLE watcher = CreateThread(NULL, 0, watch, p, 0, NULL);
        if (watcher) {
            CloseHandle(watcher);
            return status;
        }
        WaitForSingleObject(p->event, INFINITE);
        status = io->Status;
    }
    CloseHandle(p->event);
    p->event = NULL;
    /* A wait that ends at once still completes through its APC on Windows. */
    if (status >= 0 && QueueUserAPC(deliver, p->thread, (ULONG_PTR)p))
        return status;
    CloseHandle(p->thread);
    HeapFree(GetProcessHeap(), 0, p);
    return status;
}

static FARPROC WINAPI hookedGetProcAddress(HMODULE module, LPCSTR name)
{
    FARPROC found = realGetProcAddress(module, name);
    if (found && (ULONG_PTR)name > 0xffff && lstrcmpA(name, "NtDeviceIoControlFile") == 0) {
        realDeviceIoControl = (DeviceIoControlFn)(void *)found;
        return (FARPROC)(void *)hookedDeviceIoControl;
    }
    return found;
}

/* Qt resolves the ntdll call at run time, through Qt Core's GetProcAddress
   import: point that import here. */
static void hookImport(HMODULE module)
{
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); d->Name; ++d) {
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (lstrcmpA((const char *)byName->Name, "GetProcAddress") != 0)
                continue;
            DWORD old;
            if (VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) {
                realGetProcAddress = (GetProcAddressFn)slots->u1.Function;
                slots->u1.Function = (ULONG_PTR)hookedGetProcAddress;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            }
        }
    }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE core = GetModuleHandleW(L"Qt5Core.dll");
        if (!core)
            core = GetModuleHandleW(L"Qt6Core.dll");
        if (core)
            hookImport(core);
    }
    return TRUE;
}
