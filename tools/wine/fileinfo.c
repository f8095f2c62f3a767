// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
//
// What Windows itself tells of a file, for the package checks: the version
// strings and icon count that Explorer's Properties and Add/Remove Programs
// show, and the target of a Start-menu shortcut. Asking Windows (here, Wine)
// rather than parsing the files proves they read as Windows expects.
//
//   fileinfo version FILE    ProductName=..., ProductVersion=..., Icons=N
//   fileinfo shortcut LNK    Target=..., Arguments=..., Description=...
#define COBJMACROS
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <stdio.h>

static void put(const char *key, const wchar_t *value)
{
    char utf8[2048];
    if (!WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, NULL, NULL))
        utf8[0] = 0;
    printf("%s=%s\n", key, utf8);
}

static int version(const wchar_t *file)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) {
        fprintf(stderr, "fileinfo: no version resource (error %lu)\n", GetLastError());
        return 1;
    }
    void *data = HeapAlloc(GetProcessHeap(), 0, size);
    if (!data || !GetFileVersionInfoW(file, 0, size, data))
        return 1;
    struct { WORD language, codepage; } *translations = NULL;
    UINT length = 0;
    if (!VerQueryValueW(data, L"\\VarFileInfo\\Translation", (void **)&translations, &length) || length < 4) {
        fprintf(stderr, "fileinfo: no translation table\n");
        return 1;
    }
    static const wchar_t *const keys[] = {L"ProductName", L"ProductVersion", L"FileVersion",
                                          L"FileDescription", L"CompanyName", L"LegalCopyright"};
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
        wchar_t path[128];
        swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language,
                 translations[0].codepage, keys[i]);
        wchar_t *value = NULL;
        UINT chars = 0;
        char key[64];
        WideCharToMultiByte(CP_UTF8, 0, keys[i], -1, key, sizeof key, NULL, NULL);
        put(key, VerQueryValueW(data, path, (void **)&value, &chars) && chars ? value : L"");
    }
    printf("Icons=%u\n", ExtractIconExW(file, -1, NULL, NULL, 0));
    return 0;
}

static int shortcut(const wchar_t *lnk)
{
    if (FAILED(CoInitialize(NULL)))
        return 1;
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    if (FAILED(CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, &IID_IShellLinkW, (void **)&link))
        || FAILED(IShellLinkW_QueryInterface(link, &IID_IPersistFile, (void **)&file))
        || FAILED(IPersistFile_Load(file, lnk, STGM_READ))) {
        fprintf(stderr, "fileinfo: can't read the shortcut\n");
        return 1;
    }
    wchar_t text[MAX_PATH * 2];
    if (FAILED(IShellLinkW_GetPath(link, text, MAX_PATH * 2, NULL, SLGP_RAWPATH)))
        text[0] = 0;
    put("Target", text);
    if (FAILED(IShellLinkW_GetArguments(link, text, MAX_PATH * 2)))
        text[0] = 0;
    put("Arguments", text);
    if (FAILED(IShellLinkW_GetDescription(link, text, MAX_PATH * 2)))
        text[0] = 0;
    put("Description", text);
    IPersistFile_Release(file);
    IShellLinkW_Release(link);
    return 0;
}

int main(void)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 3 && wcscmp(argv[1], L"version") == 0)
        return version(argv[2]);
    if (argc == 3 && wcscmp(argv[1], L"shortcut") == 0)
        return shortcut(argv[2]);
    fprintf(stderr, "usage: fileinfo version FILE | fileinfo shortcut LNK\n");
    return 2;
}
