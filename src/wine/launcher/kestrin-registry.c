/* Reads and writes the registry of a prefix whose wineserver is running, through Wine's own registry
 * functions. While the server runs it owns system.reg and user.reg and rewrites them, so editing the
 * files then would be lost; Kestrin sends its work here instead, run under the prefix's Wine.
 *
 * Requests come on standard input, answers go to standard output, one ASCII line each ending in "\n"
 * ("\r\n" is accepted), fields separated by one blank. <root> is HKLM or HKCU. Key paths, value names
 * and file names are UTF-16LE bytes written in hexadecimal, data are the raw value bytes in
 * hexadecimal; "-" stands for an empty field (the default value has an empty name, empty data are
 * zero bytes). Key paths are relative to the root, components separated by backslashes, taken
 * literally: Software\Wow6432Node is an ordinary key, in both builds and both kinds of prefix.
 *
 *   save <root> <file>              the whole root key to <file> (Wine's text format, see below)
 *   processes                       one "process <pid> <parent pid> <exe name>" line per process
 *   create-key <root> <key>
 *   set <root> <key> <name> <type> <data>
 *                                   creates the key if needed; <type> in decimal; the data are
 *                                   stored as given (no terminator is added to strings)
 *   delete-value <root> <key> <name>  a missing value or key is fine
 *   delete-key <root> <key>         the key with everything below it; a missing key is fine
 *
 * One user action is one change: the whole input is read and checked first. If any line is
 * malformed the only output is "malformed <line number>" (the first such line, counting from 1),
 * nothing is changed and the exit status is 2. A line is malformed when its word, root or number of
 * fields is wrong, a hexadecimal field is odd, not hexadecimal, not whole UTF-16 units or holds a
 * NUL unit, a key path is empty or has an empty component, a field is over its bound (key paths
 * and file names 32767 units, value names 16383, the whole input 64 MiB), or it lacks its "\n".
 * Otherwise the requests are carried out in order, each answered "ok" or "error <win32 error>".
 * On the first error every set, delete-value and create-key done so far is undone in reverse order
 * (old values put back, values that were absent removed, keys this run created deleted), then the
 * error is answered and nothing after it is run: exit status 1, or 3 when some undo step failed
 * (named on standard error). delete-key is never undone: the caller keeps its own copy of what the
 * key held. Undo does not recreate a key that a later request deleted. An old value is kept for
 * undo only up to 32 MiB (256 MiB for all of them); over that its set or delete-value fails with
 * error 8 before changing anything. Exit status 0 means every request succeeded; 4 means the input
 * could not be read (nothing done, nothing answered).
 *
 * save: Wine's server writes the key as "WINE REGISTRY Version 2", ";; All keys relative to
 * REGISTRY\\Machine" (or the user's key), key paths in brackets relative to the saved root, like
 * system.reg and user.reg (the "#arch=" line too), volatile keys left out. Unlike Windows, Wine
 * replaces an existing file instead of failing: Wine 8 truncates it and writes into it, older
 * versions write a regNNNN.tmp beside it and rename that over it. So the caller names a file of its
 * own in a writable directory and trusts its contents only after "ok". */
#include <windows.h>

#include <tlhelp32.h>

#define MAX_INPUT (64u << 20)
#define MAX_PATH_UNITS 32767
#define MAX_NAME_UNITS 16383
#define MAX_KEPT_VALUE (32u << 20)
#define MAX_KEPT_TOTAL (256u << 20)
#define MAX_FIELDS 6 /* set has the most */

#define EXIT_FAILED 1
#define EXIT_MALFORMED 2
#define EXIT_UNDO_INCOMPLETE 3
#define EXIT_NO_INPUT 4

/* Wine's server gives every process of the prefix's own bitness this view anyway; a 32-bit process
 * in a 64-bit prefix needs it so that Wow6432Node is not added behind its back. */
#define VIEW KEY_WOW64_64KEY

enum operation
{
    SAVE,
    PROCESSES,
    CREATE_KEY,
    SET,
    DELETE_VALUE,
    DELETE_KEY
};

struct request
{
    enum operation operation;
    HKEY root;
    WCHAR* key; /* the file for save */
    WCHAR* name;
    DWORD type;
    const BYTE* data;
    DWORD size;
};

/* One undo step: a value to put back, or (name == NULL) the first `length` units of `key`, a key
 * this run created. */
struct change
{
    HKEY root;
    WCHAR* key;
    DWORD length;
    const WCHAR* name;
    BOOL existed;
    DWORD type;
    BYTE* data;
    DWORD size;
};

static struct change* changes;
static DWORD change_count;
static DWORD kept_bytes;

/* Plain kernel32 output, no C runtime stdio. */
static void write_all(DWORD which, const char* text, DWORD length)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == NULL || handle == INVALID_HANDLE_VALUE)
        return;
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, text, length, &written, NULL) || written == 0)
            return;
        text += written;
        length -= written;
    }
}

static DWORD put_text(char* buffer, DWORD at, const char* text)
{
    while (*text)
        buffer[at++] = *text++;
    return at;
}

static DWORD put_number(char* buffer, DWORD at, DWORD number)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = (char)('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0)
        buffer[at++] = digits[--count];
    return at;
}

static void answer(const char* text, DWORD number, BOOL with_number)
{
    char line[96];
    DWORD length = put_text(line, 0, text);
    if (with_number) {
        line[length++] = ' ';
        length = put_number(line, length, number);
    }
    line[length++] = '\n';
    write_all(STD_OUTPUT_HANDLE, line, length);
}

static void complain(const char* text, DWORD number)
{
    char line[96];
    DWORD length = put_text(line, 0, "kestrin-registry: ");
    length = put_text(line, length, text);
    length = put_text(line, length, ": ");
    length = put_number(line, length, number);
    line[length++] = '\n';
    write_all(STD_ERROR_HANDLE, line, length);
}

/* ---- Reading and checking the requests ---- */

static void* allocate(SIZE_T size)
{
    return HeapAlloc(GetProcessHeap(), 0, size);
}

/* The whole of standard input, or NULL when it cannot be read. Reading stops once the input is
 * over MAX_INPUT, with *over set. */
static char* read_input(DWORD* length, BOOL* over)
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD capacity = 1u << 16;
    char* text = allocate(capacity);
    *length = 0;
    *over = FALSE;
    if (in == NULL || in == INVALID_HANDLE_VALUE || text == NULL)
        return NULL;
    for (;;) {
        if (*length == capacity) {
            if (capacity > MAX_INPUT) {
                *over = TRUE;
                return text;
            }
            capacity = capacity * 2 > MAX_INPUT ? MAX_INPUT + 1 : capacity * 2;
            char* larger = HeapReAlloc(GetProcessHeap(), 0, text, capacity);
            if (larger == NULL) {
                complain("no memory for the requests", ERROR_NOT_ENOUGH_MEMORY);
                return NULL;
            }
            text = larger;
        }
        DWORD got = 0;
        if (!ReadFile(in, text + *length, capacity - *length, &got, NULL)) {
            DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF)
                break;
            complain("cannot read the requests", error);
            return NULL;
        }
        if (got == 0)
            break;
        *length += got;
    }
    return text;
}

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static BOOL is_empty_field(const char* field, DWORD length)
{
    return length == 1 && field[0] == '-';
}

/* Decodes hexadecimal bytes onto the field itself. The bytes right after the result are still hex
 * digits, which matters: Wine's RegSetValueExW stretches a string type over a terminator it finds
 * just past the given size. */
static BOOL decode_bytes(char* field, DWORD length, DWORD* size)
{
    *size = 0;
    if (is_empty_field(field, length))
        return TRUE;
    if (length % 2 != 0)
        return FALSE;
    for (DWORD i = 0; i < length; i += 2) {
        int high = hex_digit(field[i]);
        int low = hex_digit(field[i + 1]);
        if (high < 0 || low < 0)
            return FALSE;
        field[i / 2] = (char)(high * 16 + low);
    }
    *size = length / 2;
    return TRUE;
}

/* Decodes UTF-16LE hexadecimal into *arena (NUL-terminated, aligned); NULL when malformed. */
static WCHAR* decode_text(const char* field, DWORD length, DWORD max_units, BOOL allow_empty, WCHAR** arena)
{
    WCHAR* text = *arena;
    DWORD units = 0;
    if (is_empty_field(field, length)) {
        if (!allow_empty)
            return NULL;
    } else {
        if (length % 4 != 0 || length / 4 > max_units)
            return NULL;
        units = length / 4;
        for (DWORD i = 0; i < units; ++i) {
            unsigned unit = 0;
            for (int k = 0; k < 4; ++k) {
                int d = hex_digit(field[i * 4 + k]);
                if (d < 0)
                    return NULL;
                unit = unit * 16 + (unsigned)d;
            }
            unit = (unit >> 8) | ((unit & 0xff) << 8); /* little-endian bytes */
            if (unit == 0)
                return NULL;
            text[i] = (WCHAR)unit;
        }
    }
    text[units] = 0;
    *arena = text + units + 1;
    return text;
}

static BOOL is_key_path(const WCHAR* path)
{
    if (path[0] == 0 || path[0] == L'\\')
        return FALSE;
    for (const WCHAR* p = path; *p; ++p)
        if (*p == L'\\' && (p[1] == L'\\' || p[1] == 0))
            return FALSE;
    return TRUE;
}

static BOOL field_is(const char* field, DWORD length, const char* word)
{
    DWORD i = 0;
    for (; i < length; ++i)
        if (word[i] == 0 || word[i] != field[i])
            return FALSE;
    return word[i] == 0;
}

static BOOL parse_root(const char* field, DWORD length, HKEY* root)
{
    if (field_is(field, length, "HKLM"))
        *root = HKEY_LOCAL_MACHINE;
    else if (field_is(field, length, "HKCU"))
        *root = HKEY_CURRENT_USER;
    else
        return FALSE;
    return TRUE;
}

static BOOL parse_type(const char* field, DWORD length, DWORD* type)
{
    unsigned long long value = 0;
    if (length == 0 || length > 10)
        return FALSE;
    for (DWORD i = 0; i < length; ++i) {
        if (field[i] < '0' || field[i] > '9')
            return FALSE;
        value = value * 10 + (unsigned)(field[i] - '0');
    }
    if (value > 0xffffffffull)
        return FALSE;
    *type = (DWORD)value;
    return TRUE;
}

/* Fills *r from one line (without its line end); FALSE when the line is malformed. */
static BOOL parse_line(char* line, DWORD length, struct request* r, WCHAR** arena)
{
    char* field[MAX_FIELDS];
    DWORD size[MAX_FIELDS];
    int count = 0;
    DWORD start = 0;
    for (DWORD i = 0; i <= length; ++i) {
        if (i < length && line[i] != ' ')
            continue;
        if (i == start || count == MAX_FIELDS)
            return FALSE; /* an empty field, or too many */
        field[count] = line + start;
        size[count++] = i - start;
        start = i + 1;
    }

    r->key = r->name = NULL;
    r->type = 0;
    r->data = NULL;
    r->size = 0;
    if (field_is(field[0], size[0], "processes")) {
        r->operation = PROCESSES;
        return count == 1;
    }
    if (count < 3 || !parse_root(field[1], size[1], &r->root))
        return FALSE;
    if (field_is(field[0], size[0], "save")) {
        r->operation = SAVE;
        return count == 3 && (r->key = decode_text(field[2], size[2], MAX_PATH_UNITS, FALSE, arena)) != NULL;
    }
    if (field_is(field[0], size[0], "create-key"))
        r->operation = CREATE_KEY;
    else if (field_is(field[0], size[0], "delete-key"))
        r->operation = DELETE_KEY;
    else if (field_is(field[0], size[0], "delete-value"))
        r->operation = DELETE_VALUE;
    else if (field_is(field[0], size[0], "set"))
        r->operation = SET;
    else
        return FALSE;
    int wanted = r->operation == SET ? 6 : r->operation == DELETE_VALUE ? 4 : 3;
    if (count != wanted)
        return FALSE;
    r->key = decode_text(field[2], size[2], MAX_PATH_UNITS, FALSE, arena);
    if (r->key == NULL || !is_key_path(r->key))
        return FALSE;
    if (count >= 4 && (r->name = decode_text(field[3], size[3], MAX_NAME_UNITS, TRUE, arena)) == NULL)
        return FALSE;
    if (count == 6) {
        if (!parse_type(field[4], size[4], &r->type) || !decode_bytes(field[5], size[5], &r->size))
            return FALSE;
        r->data = (const BYTE*)field[5];
    }
    return TRUE;
}

/* ---- Carrying them out ---- */

static BOOL key_exists(HKEY root, const WCHAR* path)
{
    HKEY key;
    LONG status = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | VIEW, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status != ERROR_FILE_NOT_FOUND;
}

/* The length of the shortest prefix of `path` that names no key, or 0 when the whole path exists.
 * That prefix is what creating the path adds, and what undoing it removes. */
static DWORD first_missing(HKEY root, WCHAR* path)
{
    if (key_exists(root, path))
        return 0;
    for (DWORD i = 0;; ++i) {
        if (path[i] != L'\\' && path[i] != 0)
            continue;
        WCHAR end = path[i];
        path[i] = 0;
        BOOL exists = key_exists(root, path);
        path[i] = end;
        if (!exists)
            return i;
        if (end == 0)
            return 0;
    }
}

/* Deletes a key and everything below it; a missing key is success. RegDeleteTreeW empties the key
 * opened in our view (Wine walks the depth), then the key itself goes. */
static DWORD delete_tree(HKEY root, const WCHAR* path)
{
    HKEY key;
    LONG status = RegOpenKeyExW(root, path, 0, KEY_READ | KEY_SET_VALUE | VIEW, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return (DWORD)status;
    status = RegDeleteTreeW(key, NULL);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS)
        status = RegDeleteKeyExW(root, path, VIEW, 0);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : (DWORD)status;
}

static DWORD open_or_create(HKEY root, WCHAR* path, HKEY* key)
{
    DWORD missing = first_missing(root, path);
    if (missing != 0) {
        /* Noted before trying, so that a path created only in part is removed too. */
        struct change* c = &changes[change_count++];
        c->root = root;
        c->key = path;
        c->length = missing;
        c->name = NULL;
    }
    return (DWORD)RegCreateKeyExW(root, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE | VIEW,
                                  NULL, key, NULL);
}

/* Notes the value's present state as an undo step. */
static DWORD keep_value(HKEY root, WCHAR* path, HKEY key, const WCHAR* name)
{
    struct change* c = &changes[change_count];
    c->root = root;
    c->key = path;
    c->length = 0;
    c->name = name;
    c->existed = FALSE;
    c->data = NULL;
    c->size = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, NULL, &c->type, NULL, &size);
    for (int attempt = 0; status == ERROR_SUCCESS || status == ERROR_MORE_DATA; ++attempt) {
        if (attempt == 4 || size > MAX_KEPT_VALUE || size > MAX_KEPT_TOTAL - kept_bytes)
            return ERROR_NOT_ENOUGH_MEMORY;
        /* Two spare bytes, set non-zero below, so that RegSetValueExW never stretches it on undo. */
        BYTE* data = allocate(size + 2);
        if (data == NULL)
            return ERROR_NOT_ENOUGH_MEMORY;
        DWORD got = size;
        status = RegQueryValueExW(key, name, NULL, &c->type, data, &got);
        if (status == ERROR_SUCCESS) {
            data[got] = data[got + 1] = 0xff;
            c->existed = TRUE;
            c->data = data;
            c->size = got;
            kept_bytes += got;
            change_count++;
            return ERROR_SUCCESS;
        }
        HeapFree(GetProcessHeap(), 0, data);
        size = got; /* it grew meanwhile */
    }
    if (status != ERROR_FILE_NOT_FOUND)
        return (DWORD)status;
    change_count++;
    return ERROR_SUCCESS;
}

static DWORD set_value(struct request* r)
{
    HKEY key;
    DWORD status = open_or_create(r->root, r->key, &key);
    if (status != ERROR_SUCCESS)
        return status;
    status = keep_value(r->root, r->key, key, r->name);
    if (status == ERROR_SUCCESS)
        status = (DWORD)RegSetValueExW(key, r->name, 0, r->type, r->data, r->size);
    RegCloseKey(key);
    return status;
}

static DWORD delete_value(struct request* r)
{
    HKEY key;
    LONG status = RegOpenKeyExW(r->root, r->key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | VIEW, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return (DWORD)status;
    status = (LONG)keep_value(r->root, r->key, key, r->name);
    if (status == ERROR_SUCCESS)
        status = RegDeleteValueW(key, r->name);
    RegCloseKey(key);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : (DWORD)status;
}

static DWORD create_key(struct request* r)
{
    HKEY key;
    DWORD status = open_or_create(r->root, r->key, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status;
}

/* The server writes the file only for a caller holding an enabled backup privilege. */
static DWORD save(struct request* r)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return GetLastError();
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD status = ERROR_SUCCESS;
    if (!LookupPrivilegeValueW(NULL, L"SeBackupPrivilege", &privileges.Privileges[0].Luid)) {
        status = GetLastError();
    } else {
        SetLastError(ERROR_SUCCESS); /* success leaves it alone; ERROR_NOT_ALL_ASSIGNED is a failure */
        if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL) || GetLastError() != ERROR_SUCCESS)
            status = GetLastError();
    }
    CloseHandle(token);
    if (status != ERROR_SUCCESS)
        return status;
    return (DWORD)RegSaveKeyW(r->root, r->key, NULL);
}

static DWORD list_processes(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return GetLastError();
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    BOOL more = Process32FirstW(snapshot, &entry);
    while (more) {
        static const char digits[] = "0123456789abcdef";
        char line[48 + 4 * MAX_PATH];
        DWORD length = put_text(line, 0, "process ");
        length = put_number(line, length, entry.th32ProcessID);
        line[length++] = ' ';
        length = put_number(line, length, entry.th32ParentProcessID);
        line[length++] = ' ';
        if (entry.szExeFile[0] == 0)
            line[length++] = '-';
        for (int i = 0; i < MAX_PATH && entry.szExeFile[i] != 0; ++i) {
            unsigned unit = entry.szExeFile[i];
            line[length++] = digits[(unit >> 4) & 15];
            line[length++] = digits[unit & 15];
            line[length++] = digits[(unit >> 12) & 15];
            line[length++] = digits[(unit >> 8) & 15];
        }
        line[length++] = '\n';
        write_all(STD_OUTPUT_HANDLE, line, length);
        more = Process32NextW(snapshot, &entry);
    }
    DWORD status = GetLastError();
    CloseHandle(snapshot);
    return status == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : status;
}

static DWORD carry_out(struct request* r)
{
    switch (r->operation) {
    case SAVE:
        return save(r);
    case PROCESSES:
        return list_processes();
    case CREATE_KEY:
        return create_key(r);
    case SET:
        return set_value(r);
    case DELETE_VALUE:
        return delete_value(r);
    case DELETE_KEY:
        return delete_tree(r->root, r->key);
    }
    return ERROR_INVALID_FUNCTION;
}

/* Undoes every change in reverse order; FALSE when one of them could not be undone. */
static BOOL undo(void)
{
    BOOL complete = TRUE;
    while (change_count > 0) {
        struct change* c = &changes[--change_count];
        LONG status;
        if (c->name == NULL) {
            WCHAR end = c->key[c->length];
            c->key[c->length] = 0;
            status = (LONG)delete_tree(c->root, c->key);
            c->key[c->length] = end;
        } else {
            HKEY key;
            status = RegOpenKeyExW(c->root, c->key, 0, KEY_SET_VALUE | VIEW, &key);
            if (status == ERROR_FILE_NOT_FOUND) {
                status = ERROR_SUCCESS; /* deleted by a later request: not brought back */
            } else if (status == ERROR_SUCCESS) {
                if (c->existed)
                    status = RegSetValueExW(key, c->name, 0, c->type, c->data, c->size);
                else
                    status = RegDeleteValueW(key, c->name);
                if (status == ERROR_FILE_NOT_FOUND)
                    status = ERROR_SUCCESS;
                RegCloseKey(key);
            }
        }
        if (status != ERROR_SUCCESS) {
            complain("cannot undo a change", (DWORD)status);
            complete = FALSE;
        }
    }
    return complete;
}

int main(void)
{
    DWORD length;
    BOOL over;
    char* text = read_input(&length, &over);
    if (text == NULL)
        return EXIT_NO_INPUT;

    if (over)
        length = MAX_INPUT; /* the line that crosses the bound is the malformed one */
    DWORD lines = 0;
    for (DWORD i = 0; i < length; ++i)
        if (text[i] == '\n')
            ++lines;
    if (over || (length > 0 && text[length - 1] != '\n')) {
        answer("malformed", lines + 1, TRUE);
        return EXIT_MALFORMED;
    }

    /* Decoded text takes half its hexadecimal plus a terminator, for at most two fields a line. */
    struct request* requests = allocate((SIZE_T)lines * sizeof *requests + 1);
    WCHAR* arena = allocate((SIZE_T)length / 2 + (SIZE_T)lines * 8 + 8);
    changes = allocate((SIZE_T)lines * 2 * sizeof *changes + 1);
    if (requests == NULL || arena == NULL || changes == NULL) {
        complain("out of memory for the requests", ERROR_NOT_ENOUGH_MEMORY);
        return EXIT_NO_INPUT;
    }
    DWORD start = 0;
    for (DWORD n = 0; n < lines; ++n) {
        DWORD end = start;
        while (text[end] != '\n')
            ++end;
        DWORD line_length = end - start;
        if (line_length > 0 && text[end - 1] == '\r')
            --line_length;
        if (!parse_line(text + start, line_length, &requests[n], &arena)) {
            answer("malformed", n + 1, TRUE);
            return EXIT_MALFORMED;
        }
        start = end + 1;
    }

    for (DWORD n = 0; n < lines; ++n) {
        DWORD status = carry_out(&requests[n]);
        if (status != ERROR_SUCCESS) {
            BOOL complete = undo();
            answer("error", status, TRUE);
            return complete ? EXIT_FAILED : EXIT_UNDO_INCOMPLETE;
        }
        answer("ok", 0, FALSE);
    }
    return 0;
}
