/* Starts one Windows command line exactly as stored, under Wine.
 *
 * Passing the line to `wine` as Linux arguments would re-quote every piece, so the line arrives
 * here whole in the environment variable KESTRIN_LAUNCH_LINE, as hexadecimal UTF-16 code units
 * (four digits each, so no locale can alter it). It goes to CreateProcessW with no application
 * name, which finds the program by Windows' own rules, quotes and blanks untouched. Wine's
 * CreateProcessW alone would add quotes around an unquoted program path with blanks, so that one
 * case is resolved here and named as the application, leaving the line as it is.
 *
 * Reports on stderr, one line each: "kestrin-launch: started" once the child runs, or
 * "kestrin-launch: cannot start: <error number>" (then exits with LAUNCH_FAILED). Otherwise the
 * exit status is the child's. */
#include <windows.h>

#define LINE_VARIABLE L"KESTRIN_LAUNCH_LINE"
#define LAUNCH_FAILED 250

/* Plain kernel32 only: user32 would bring up Wine's window system for nothing. */
static void report(const char* text, DWORD number, BOOL with_number)
{
    char buffer[96];
    int length = 0;
    for (const char* p = "kestrin-launch: "; *p; ++p)
        buffer[length++] = *p;
    for (const char* p = text; *p && length < 60; ++p)
        buffer[length++] = *p;
    if (with_number) {
        char digits[12];
        int count = 0;
        do {
            digits[count++] = (char)('0' + number % 10);
            number /= 10;
        } while (number != 0);
        buffer[length++] = ':';
        buffer[length++] = ' ';
        while (count > 0)
            buffer[length++] = digits[--count];
    }
    buffer[length++] = '\n';
    DWORD written;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != NULL && err != INVALID_HANDLE_VALUE)
        WriteFile(err, buffer, (DWORD)length, &written, NULL);
}

static int hex_digit(WCHAR c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

/* Decodes the variable in place; returns NULL when it is missing or malformed. */
static WCHAR* read_line(void)
{
    DWORD size = GetEnvironmentVariableW(LINE_VARIABLE, NULL, 0);
    if (size == 0)
        return NULL;
    WCHAR* text = HeapAlloc(GetProcessHeap(), 0, size * sizeof(WCHAR));
    if (text == NULL || GetEnvironmentVariableW(LINE_VARIABLE, text, size) != size - 1)
        return NULL;
    DWORD digits = size - 1;
    if (digits % 4 != 0)
        return NULL;
    for (DWORD i = 0; i < digits / 4; ++i) {
        unsigned unit = 0;
        for (int k = 0; k < 4; ++k) {
            int d = hex_digit(text[i * 4 + k]);
            if (d < 0)
                return NULL;
            unit = unit * 16 + (unsigned)d;
        }
        text[i] = (WCHAR)unit; /* i * 4 >= i, so no digit is overwritten before it is read */
    }
    text[digits / 4] = 0;
    return text;
}

static BOOL is_program_file(const WCHAR* name, WCHAR* found, DWORD size)
{
    DWORD length = SearchPathW(NULL, name, L".exe", size, found, NULL);
    if (length == 0 || length >= size)
        return FALSE;
    DWORD attributes = GetFileAttributesW(found);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* For an unquoted line whose program path holds blanks, the path Windows would pick: the
 * shortest prefix ending at a blank that names a file. NULL when the first word is the program
 * (or nothing matches), so that CreateProcessW decides as usual. */
static WCHAR* program_with_blanks(const WCHAR* line)
{
    static WCHAR found[MAX_PATH];
    if (line[0] == L'"')
        return NULL;
    int length = lstrlenW(line);
    WCHAR* candidate = HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(WCHAR));
    if (candidate == NULL)
        return NULL;
    BOOL first = TRUE;
    for (int end = 0; end <= length; ++end) {
        if (end < length && line[end] != L' ' && line[end] != L'\t')
            continue;
        if (end == 0)
            break;
        CopyMemory(candidate, line, end * sizeof(WCHAR));
        candidate[end] = 0;
        if (is_program_file(candidate, found, MAX_PATH))
            return first ? NULL : found;
        first = FALSE;
    }
    return NULL;
}

int main(void)
{
    WCHAR* line = read_line();
    if (line == NULL || line[0] == 0) {
        report("cannot start: no command line", 0, FALSE);
        return LAUNCH_FAILED;
    }
    /* The uninstaller and whatever it starts must not see our private variable. */
    SetEnvironmentVariableW(LINE_VARIABLE, NULL);

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessW(program_with_blanks(line), line, NULL, NULL, FALSE, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
                        NULL, NULL, &startup, &process)) {
        report("cannot start", GetLastError(), TRUE);
        return LAUNCH_FAILED;
    }
    report("started", 0, FALSE);
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    return (int)status;
}
