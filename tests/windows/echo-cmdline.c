/* Test program: writes the command line it received, as UTF-16LE without terminator, to the file
 * named like itself with ".cmdline" appended, then exits with status 7. With "--linger" anywhere
 * in the line it stays five seconds before ending, keeping the prefix's wineserver alive. */
#include <windows.h>

int main(void)
{
    WCHAR path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    lstrcpyW(path + length, L".cmdline");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    const WCHAR* line = GetCommandLineW();
    DWORD written = 0;
    BOOL ok = WriteFile(file, line, (DWORD)(lstrlenW(line) * sizeof(WCHAR)), &written, NULL);
    CloseHandle(file);
    static const WCHAR linger[] = L"--linger";
    for (const WCHAR* p = line; *p; ++p) {
        int k = 0;
        while (linger[k] && p[k] == linger[k])
            ++k;
        if (!linger[k]) {
            Sleep(5000);
            break;
        }
    }
    return ok ? 7 : 3;
}
