/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The SBUS Channel developers
 *
 * wine-launch.exe DLL PROGRAM [ARGUMENTS...]
 *
 * Runs PROGRAM with DLL loaded into it before its own code starts, then gets
 * out of the way: same console, same standard handles, same exit code. The
 * tests use it to load winecomm.dll into the unchanged Windows programs
 * under Wine.
 *
 * It starts PROGRAM as a debugger would and puts a breakpoint on its entry
 * point: there the loader is done and its lock free, so a thread of ours can
 * load the DLL while the main thread waits; then the debugger detaches.
 */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

/* The quoting that CommandLineToArgvW and the C runtime undo. */
static void appendQuoted(wchar_t *out, size_t room, const wchar_t *arg)
{
    size_t n = wcslen(out);
    if (*arg && !wcspbrk(arg, L" \t\n\v\"")) {
        _snwprintf(out + n, room - n, L"%ls", arg);
        return;
    }
    if (n < room - 1)
        out[n++] = L'"';
    for (const wchar_t *p = arg;; ++p) {
        size_t slashes = 0;
        while (*p == L'\\') {
            ++p;
            ++slashes;
        }
        size_t times = !*p ? slashes * 2 : *p == L'"' ? slashes * 2 + 1 : slashes;
        while (times-- && n < room - 1)
            out[n++] = L'\\';
        if (!*p)
            break;
        if (n < room - 1)
            out[n++] = *p;
    }
    if (n < room - 1)
        out[n++] = L'"';
    out[n] = 0;
}

static BOOL WINAPI ignoreControl(DWORD event)
{
    (void)event;
    return TRUE;
}

static int usage(FILE *to)
{
    fputs("usage: wine-launch.exe DLL PROGRAM [ARGUMENTS...]\n"
          "Runs PROGRAM with DLL loaded into it before its own code starts, and exits with\n"
          "PROGRAM's exit code (125 when it could not be started).\n",
          to);
    return to == stdout ? 0 : 125;
}

int main(void)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 2 && (!wcscmp(argv[1], L"--help") || !wcscmp(argv[1], L"-h")))
        return usage(stdout);
    if (argc < 3)
        return usage(stderr);
    wchar_t dll[MAX_PATH];
    if (!GetFullPathNameW(argv[1], MAX_PATH, dll, NULL)) {
        fprintf(stderr, "wine-launch: cannot resolve %ls\n", argv[1]);
        return 125;
    }
    static wchar_t line[32768];
    for (int i = 2; i < argc; ++i) {
        if (i > 2)
            wcscat(line, L" ");
        appendQuoted(line, sizeof line / sizeof *line, argv[i]);
    }

    /* Ctrl+C is the program's to handle; this process only waits for it. A
       handler function, not SetConsoleCtrlHandler(NULL, TRUE): that flag is
       inherited, and would keep Ctrl+C from the program too. */
    SetConsoleCtrlHandler(ignoreControl, TRUE);

    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    /* Wine reports ERROR_INTERNAL_ERROR when the new process died inside its
       own loader, before any of the program's code ran; on a loaded machine
       that happens now and then, and the same start a moment later works. Anything else is the
       program's or the caller's fault and is reported at once. */
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 4 && !started; ++attempt) {
        if (attempt)
            Sleep(250);
        started = CreateProcessW(NULL, line, NULL, NULL, TRUE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL, &si, &pi);
        error = started ? 0 : GetLastError();
        if (!started && error != ERROR_INTERNAL_ERROR)
            break;
    }
    if (!started) {
        fprintf(stderr, "wine-launch: cannot start %ls (error %lu)\n", argv[2], error);
        return 125;
    }
    DebugSetProcessKillOnExit(FALSE);

    DWORD loaderThread = 0;
    BYTE *entry = NULL;
    BYTE entryByte = 0;
    BOOL attached = TRUE;
    while (attached) {
        DEBUG_EVENT ev;
        if (!WaitForDebugEvent(&ev, INFINITE))
            break;
        DWORD verdict = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            if (ev.u.CreateProcessInfo.hFile)
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            BYTE *base = ev.u.CreateProcessInfo.lpBaseOfImage;
            IMAGE_DOS_HEADER dos;
            IMAGE_NT_HEADERS nt;
            static const BYTE int3 = 0xcc;
            if (ReadProcessMemory(pi.hProcess, base, &dos, sizeof dos, NULL)
                && ReadProcessMemory(pi.hProcess, base + dos.e_lfanew, &nt, sizeof nt, NULL)) {
                entry = base + nt.OptionalHeader.AddressOfEntryPoint;
                if (!ReadProcessMemory(pi.hProcess, entry, &entryByte, 1, NULL)
                    || !WriteProcessMemory(pi.hProcess, entry, &int3, 1, NULL))
                    entry = NULL;
                else
                    FlushInstructionCache(pi.hProcess, entry, 1);
            }
            if (!entry) {
                fprintf(stderr, "wine-launch: cannot stop %ls at its entry point\n", argv[2]);
                DebugActiveProcessStop(pi.dwProcessId);
                attached = FALSE;
                continue;
            }
            break;
        }
        case LOAD_DLL_DEBUG_EVENT:
            if (ev.u.LoadDll.hFile)
                CloseHandle(ev.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            EXCEPTION_RECORD *r = &ev.u.Exception.ExceptionRecord;
            if (r->ExceptionCode == EXCEPTION_BREAKPOINT && entry && (BYTE *)r->ExceptionAddress == entry
                && !loaderThread) {
                HANDLE main = OpenThread(THREAD_ALL_ACCESS, FALSE, ev.dwThreadId);
                CONTEXT c;
                c.ContextFlags = CONTEXT_CONTROL;
                if (!main || !GetThreadContext(main, &c)) {
                    fprintf(stderr, "wine-launch: cannot read the state of %ls\n", argv[2]);
                    return 125;
                }
                c.Rip = (DWORD64)entry;
                SetThreadContext(main, &c);
                WriteProcessMemory(pi.hProcess, entry, &entryByte, 1, NULL);
                FlushInstructionCache(pi.hProcess, entry, 1);
                SuspendThread(main);
                CloseHandle(main);
                size_t bytes = (wcslen(dll) + 1) * sizeof(wchar_t);
                void *remote = VirtualAllocEx(pi.hProcess, NULL, bytes, MEM_COMMIT, PAGE_READWRITE);
                HANDLE t = NULL;
                if (remote && WriteProcessMemory(pi.hProcess, remote, dll, bytes, NULL)) {
                    LPTHREAD_START_ROUTINE load = (LPTHREAD_START_ROUTINE)(void *)GetProcAddress(
                        GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
                    t = CreateRemoteThread(pi.hProcess, NULL, 0, load, remote, 0, &loaderThread);
                }
                if (!t) {
                    fprintf(stderr, "wine-launch: cannot load %ls into %ls (error %lu)\n", dll, argv[2],
                            GetLastError());
                    return 125;
                }
                CloseHandle(t);
            } else if (r->ExceptionCode != EXCEPTION_BREAKPOINT) {
                verdict = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case EXIT_THREAD_DEBUG_EVENT:
            if (loaderThread && ev.dwThreadId == loaderThread) {
                ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, DBG_CONTINUE);
                DebugActiveProcessStop(pi.dwProcessId);
                ResumeThread(pi.hThread);
                attached = FALSE;
                continue;
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            attached = FALSE;
            break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, verdict);
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 125;
    GetExitCodeProcess(pi.hProcess, &code);
    return (int)code;
}
