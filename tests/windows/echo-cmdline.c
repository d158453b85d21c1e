/* Test program: writes the command line it received, as UTF-16LE without terminator, to the file
 * named like itself with ".cmdline" appended, then exits with status 7. With "--linger" anywhere
 * in the line it stays five seconds before ending, keeping the prefix's wineserver alive; with
 * "--stay" two minutes, as a program the user left open (`wineserver -k` ends it). */
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
    static const WCHAR* const waits[] = {L"--linger", L"--stay"};
    static const DWORD waitMs[] = {5000, 120000};
    for (const WCHAR* p = line; *p; ++p) {
        for (int w = 0; w < 2; ++w) {
            int k = 0;
            while (waits[w][k] && p[k] == waits[w][k])
                ++k;
            if (!waits[w][k]) {
                Sleep(waitMs[w]);
                return ok ? 7 : 3;
            }
        }
    }
    return ok ? 7 : 3;
}
