#!/usr/bin/env python3
"""Writes data/demo-prefix/: a small Wine prefix to try Kestrin on.

system.reg holds seven uninstall entries in Wine's own file format (one of them has lost its
uninstaller), usage-cache records for some, the Windows version and the search path. drive_c holds
the programs' files: small 64-bit PE files whose icons come from scripts/demo-icons/*.png, and
uninstallers that, run under Wine, delete their own entry as a real one would. user.reg and
userdef.reg are the ones a fresh Wine 8.0 prefix starts with (tests/data/prefix/).

Everything is generated, the output is the same on every run: run it again after changing it and
commit the result. Needs nothing beyond Python 3.
"""

import os
import shutil
import struct
import sys
import zlib
from datetime import datetime, timezone
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
ICONS = ROOT / "scripts" / "demo-icons"
OUT = ROOT / "data" / "demo-prefix"

UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
ARPCACHE = r"Software\Microsoft\Windows\CurrentVersion\App Management\ARPCache"
# Every key gets this modification time (a fixed one keeps the output stable), a few seconds apart.
KEY_TIME = 1733047200  # 2024-12-01 10:00:00 UTC

# --- PNG reading (the PNGs that rsvg-convert writes: 8-bit RGBA, not interlaced) -----------------


def read_png(path):
    data = path.read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (8, 6, 0):
                sys.exit(f"{path}: only 8-bit RGBA PNGs without interlacing are read")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - 4] if i >= 4 else 0
            up = previous[i]
            upLeft = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                row[i] = (row[i] + left) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + up) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - upLeft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upLeft)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else upLeft)) & 0xFF
        rows.append(bytes(row))
        previous = row
    return width, height, rows


# --- Icons ----------------------------------------------------------------------------------------


def icon_dib(png_path):
    """A 32-bit icon image: BITMAPINFOHEADER (height doubled), BGRA rows bottom-up, then the AND mask."""
    width, height, rows = read_png(png_path)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes(v for x in range(width) for v in (r[4 * x + 2], r[4 * x + 1], r[4 * x], r[4 * x + 3]))
                      for r in reversed(rows))
    mask_stride = (width + 31) // 32 * 4
    mask = b""
    for r in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(width):
            if r[4 * x + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return width, header + colour + mask


def icon_images(name):
    return [icon_dib(ICONS / f"{name}-{size}.png") for size in (48, 32, 16)]


def ico_file(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for side, image in images:
        out += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(image for _, image in images)


# --- PE files -------------------------------------------------------------------------------------

IMAGE_BASE = 0x140000000
SECTION_ALIGN = 0x1000
FILE_ALIGN = 0x200


def align(n, a):
    return (n + a - 1) // a * a


def resource_section(images, rva):
    """An .rsrc tree with one icon group (ID 1) whose images are RT_ICON 1, 2, ..."""
    n = len(images)
    # Directory layout: root (2 types), RT_ICON names, RT_GROUP_ICON names, one language directory
    # per resource, then the data entries, then the data.
    root, icon_dir = 0, 16 + 2 * 8
    group_dir = icon_dir + 16 + n * 8
    lang_dirs = group_dir + 16 + 8
    leaves = lang_dirs + (n + 1) * 24
    data_start = leaves + (n + 1) * 16
    tree = bytearray(data_start)

    def directory(at, ids):
        struct.pack_into("<IIHHHH", tree, at, 0, 0, 0, 0, 0, ids)

    def entry(at, index, name, target):
        struct.pack_into("<II", tree, at + 16 + 8 * index, name, target)

    blobs = [image for _, image in images]
    group = struct.pack("<HHH", 0, 1, n)
    for i, (side, image) in enumerate(images):
        group += struct.pack("<BBBBHHIH", side % 256, side % 256, 0, 0, 1, 32, len(image), i + 1)
    blobs.append(group)

    directory(root, 2)
    entry(root, 0, 3, 0x80000000 | icon_dir)
    entry(root, 1, 14, 0x80000000 | group_dir)
    directory(icon_dir, n)
    directory(group_dir, 1)
    entry(group_dir, 0, 1, 0x80000000 | (lang_dirs + n * 24))
    for i, blob in enumerate(blobs):
        lang, leaf = lang_dirs + i * 24, leaves + i * 16
        if i < n:
            entry(icon_dir, i, i + 1, 0x80000000 | lang)
        directory(lang, 1)
        entry(lang, 0, 0x409, leaf)
        struct.pack_into("<IIII", tree, leaf, rva + len(tree), len(blob), 0, 0)
        tree += blob + bytes(-len(blob) % 8)
    return bytes(tree)


def program_code(data_rva, text_rva, layout):
    """x64 code: RegDeleteTreeA(HKEY_LOCAL_MACHINE, key) when there is a key, then ExitProcess(0)."""
    code = bytearray(b"\x48\x83\xec\x28")  # sub rsp, 40: shadow space, stack aligned

    def rip_relative(opcode, target):
        at = text_rva + len(code) + len(opcode) + 4
        code.extend(opcode + struct.pack("<i", target - at))

    if "key" in layout:
        code.extend(b"\x48\xc7\xc1\x02\x00\x00\x80")  # mov rcx, HKEY_LOCAL_MACHINE (sign-extended)
        rip_relative(b"\x48\x8d\x15", data_rva + layout["key"])  # lea rdx, [key]
        rip_relative(b"\xff\x15", data_rva + layout["iat:RegDeleteTreeA"])  # call [RegDeleteTreeA]
    code.extend(b"\x31\xc9")  # xor ecx, ecx
    rip_relative(b"\xff\x15", data_rva + layout["iat:ExitProcess"])  # call [ExitProcess]
    code.extend(b"\xcc")
    return bytes(code)


def data_section(rva, deletes_key):
    """Import descriptors, then every lookup table, then the address tables side by side (the loader
    fills them in), the names, and the key the uninstaller deletes."""
    imports = [("KERNEL32.dll", ["ExitProcess"])]
    if deletes_key is not None:
        imports.insert(0, ("ADVAPI32.dll", ["RegDeleteTreeA"]))
    layout = {}
    descriptors = 20 * (len(imports) + 1)
    table_size = sum(8 * (len(functions) + 1) for _, functions in imports)
    lookup_at, address_at = descriptors, descriptors + table_size
    layout["imports"] = (0, descriptors)
    layout["iat"] = (address_at, table_size)
    names = bytearray()
    hint_names, dll_names = {}, {}
    names_at = address_at + table_size
    for dll, functions in imports:
        for f in functions:
            hint_names[f] = names_at + len(names)
            names += struct.pack("<H", 0) + f.encode() + b"\0"
            names += bytes(len(names) % 2)
    for dll, _ in imports:
        dll_names[dll] = names_at + len(names)
        names += dll.encode() + b"\0"
    out = bytearray(names_at) + names
    for i, (dll, functions) in enumerate(imports):
        struct.pack_into("<IIIII", out, 20 * i, rva + lookup_at, 0, 0, rva + dll_names[dll], rva + address_at)
        for f in functions:
            struct.pack_into("<Q", out, lookup_at, rva + hint_names[f])
            struct.pack_into("<Q", out, address_at, rva + hint_names[f])
            layout["iat:" + f] = address_at
            lookup_at += 8
            address_at += 8
        lookup_at += 8  # the zero entry that ends each DLL's tables
        address_at += 8
    if deletes_key is not None:
        out += bytes(-len(out) % 8)
        layout["key"] = len(out)
        out += deletes_key.encode("ascii") + b"\0"
    return bytes(out), layout


def pe_file(images=None, deletes_key=None, placeholder=False):
    """A 64-bit Windows GUI program: it deletes HKLM\\<deletes_key> when given one, then ends.
    images, when given, become its icon group. A placeholder carries the mark of the files Wine puts
    in system32 for its own programs: Wine then runs its built-in program instead, and replaces the
    file when it sets the prefix up."""
    text_rva, data_rva = 0x1000, 0x2000
    data, layout = data_section(data_rva, deletes_key)
    code = program_code(data_rva, text_rva, layout)
    sections = [(b".text", text_rva, code, 0x60000020), (b".data", data_rva, data, 0xC0000040)]
    rsrc = None
    if images:
        rsrc_rva = data_rva + align(len(data), SECTION_ALIGN)
        rsrc = resource_section(images, rsrc_rva)
        sections.append((b".rsrc", rsrc_rva, rsrc, 0x40000040))
    headers_size = FILE_ALIGN
    image_size = sections[-1][1] + align(len(sections[-1][2]), SECTION_ALIGN)

    dos = bytearray(0x80 if placeholder else 0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, len(dos))
    if placeholder:
        dos[0x40:0x55] = b"Wine placeholder DLL\0"
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", 0x8664, len(sections), 0, 0, 0, 240, 0x0023)
    directories = [(0, 0)] * 16
    directories[1] = (data_rva + layout["imports"][0], layout["imports"][1])
    if rsrc is not None:
        directories[2] = (sections[2][1], len(rsrc))
    directories[12] = (data_rva + layout["iat"][0], layout["iat"][1])
    optional = struct.pack("<HBBIIIIIQIIHHHHHHIIIIHHQQQQII", 0x20B, 14, 0, align(len(code), FILE_ALIGN),
                           sum(align(len(s[2]), FILE_ALIGN) for s in sections[1:]), 0, text_rva, text_rva,
                           IMAGE_BASE, SECTION_ALIGN, FILE_ALIGN, 6, 0, 1, 0, 6, 0, 0, image_size, headers_size, 0,
                           2, 0x8100, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"".join(struct.pack("<II", r, s) for r, s in directories)
    table = b""
    raw = headers_size
    body = b""
    for name, rva, content, flags in sections:
        size = align(len(content), FILE_ALIGN)
        table += struct.pack("<8sIIIIIIHHI", name, len(content), rva, size, raw, 0, 0, 0, 0, flags)
        body += content + bytes(size - len(content))
        raw += size
    headers = bytes(dos) + coff + optional + table
    return headers + bytes(headers_size - len(headers)) + body


# --- Registry files in Wine's text format ---------------------------------------------------------


def escape(text, delimiter='"'):
    """Wine's dump_strW: \\x for units above 0x7f, C or octal escapes below 0x20, padded when the
    next character would otherwise be read as part of the escape."""
    units = text.encode("utf-16-le")
    units = [units[i] | units[i + 1] << 8 for i in range(0, len(units), 2)]
    out = ""
    for i, u in enumerate(units):
        nxt = chr(units[i + 1]) if i + 1 < len(units) else ""
        if u > 0x7F:
            out += "\\x%04x" % u if nxt and nxt in "0123456789abcdefABCDEF" else "\\x%x" % u
        elif u < 0x20:
            named = {7: "a", 8: "b", 9: "t", 10: "n", 11: "v", 12: "f", 13: "r", 27: "e"}
            if u in named:
                out += "\\" + named[u]
            else:
                out += "\\%03o" % u if nxt and nxt in "01234567" else "\\%o" % u
        else:
            c = chr(u)
            out += "\\" + c if c == "\\" or c in delimiter else c
    return out


def sz(text):
    return ("sz", text)


def expand_sz(text):
    return ("expand", text)


def dword(n):
    return ("dword", n)


def binary(data):
    return ("binary", bytes(data))


def value_line(name, value):
    head = '@=' if name == "" else '"%s"=' % escape(name)
    kind, data = value
    if kind == "sz":
        return head + '"%s"' % escape(data)
    if kind == "expand":
        return head + 'str(2):"%s"' % escape(data)
    if kind == "dword":
        return head + "dword:%08x" % data
    line, count = head + "hex:", len(head) + 4
    for i, byte in enumerate(data):
        line += "%02x" % byte
        count += 2
        if i < len(data) - 1:
            line += ","
            count += 1
            if count > 76:
                line += "\\\n  "
                count = 2
    return line


def sort_key(name):
    # Wine keeps subkeys and values ordered by their lower-cased UTF-16 units, shorter first on a tie.
    return [ord(c) for c in name.lower()]


def filetime(unix_seconds):
    return (unix_seconds + 11644473600) * 10_000_000


def hive(branch, keys):
    """keys: {path: {name: value}}. A key without values is written only when it has no subkeys."""
    tree = {}
    for path in keys:
        node = tree
        for part in path.split("\\"):
            node = node.setdefault(part, {})
    lines = ["WINE REGISTRY Version 2", ";; All keys relative to " + branch.replace("\\", "\\\\"), "",
             "#arch=win64"]
    stamp = [KEY_TIME]

    def walk(node, path):
        values = keys.get("\\".join(path), {}) if path else {}
        if path and (values or not node):
            stamp[0] += 7
            ft = filetime(stamp[0])
            lines.append("")
            lines.append("[%s] %d" % ("\\\\".join(escape(p, "[]") for p in path), stamp[0]))
            lines.append("#time=%x%08x" % (ft >> 32, ft & 0xFFFFFFFF))
            for name in sorted(values, key=sort_key):
                lines.append(value_line(name, values[name]))
        for name in sorted(node, key=sort_key):
            walk(node[name], path + [name])

    walk(tree, [])
    return "\n".join(lines) + "\n"


def slow_info_cache(size, last_used, frequency, program):
    """The 552-byte usage record: header, size, FILETIME of last use, use count, program path."""
    record = bytearray(552)
    struct.pack_into("<IIqQi", record, 0, 552, 0, size, filetime(last_used), frequency)
    path = program.encode("utf-16-le")
    record[28:28 + len(path)] = path
    return record


def utc(*fields):
    return int(datetime(*fields, tzinfo=timezone.utc).timestamp())


# --- The demonstration prefix ---------------------------------------------------------------------

MB = 1024 * 1024
QUILL = "{8F2D6C3E-5B1A-4E7C-9A4D-2C6B8E1F0A37}"

# (key, values, usage record or None). Paths are Windows paths inside the prefix.
ENTRIES = [
    ("BirchwoodPaint_is1", {
        "DisplayName": sz("Birchwood Paint 3.2"),
        "DisplayVersion": sz("3.2.1"),
        "Publisher": sz("Birchwood Software"),
        "DisplayIcon": sz(r"C:\Program Files\Birchwood Paint\bpaint.exe,0"),
        "UninstallString": sz(r'"C:\Program Files\Birchwood Paint\unins000.exe"'),
        "QuietUninstallString": sz(r'"C:\Program Files\Birchwood Paint\unins000.exe" /SILENT'),
        "InstallLocation": sz("C:\\Program Files\\Birchwood Paint\\"),
        "InstallDate": sz("20240312"),
        "EstimatedSize": dword(86016),
        "URLInfoAbout": sz("https://birchwood.example/"),
        "HelpLink": sz("https://birchwood.example/help"),
        "NoModify": dword(1),
        "NoRepair": dword(1),
    }, (84 * MB + 123456, utc(2024, 11, 28, 16, 40), 14, r"C:\Program Files\Birchwood Paint\bpaint.exe")),
    ("Harbor Mail", {
        "DisplayName": sz("Harbor Mail"),
        "DisplayVersion": sz("1.8.4"),
        "Publisher": sz("Harbor Labs"),
        "DisplayIcon": sz(r"C:\Program Files (x86)\Harbor Mail\harbormail.exe"),
        "UninstallString": sz(r"C:\Program Files (x86)\Harbor Mail\uninstall.exe"),
        "URLUpdateInfo": sz("https://harbor.example/download"),
    }, (212 * MB + 40960, utc(2024, 10, 3, 8, 15), 6, r"C:\Program Files (x86)\Harbor Mail\harbormail.exe")),
    (QUILL, {
        "DisplayName": sz("Quillnote 2"),
        "DisplayVersion": sz("2.0.1187"),
        "Publisher": sz("Quillnote Software"),
        "DisplayIcon": sz("C:\\windows\\Installer\\%s\\quillnote.ico" % QUILL),
        "InstallLocation": sz("C:\\Program Files\\Quillnote\\"),
        "InstallSource": expand_sz("%SystemDrive%\\Temp\\quillnote\\"),
        "ModifyPath": expand_sz("MsiExec.exe /I" + QUILL),
        "UninstallString": expand_sz("MsiExec.exe /X" + QUILL),
        "Language": dword(0x409),
        "WindowsInstaller": dword(1),
        "EstimatedSize": dword(30720),
    }, (30 * MB, utc(2024, 11, 30, 21, 5), 27, r"C:\Program Files\Quillnote\quillnote.exe")),
    ("Sparrow Zip", {
        "DisplayName": sz("Sparrow Zip 5.1 (x64)"),
        "DisplayVersion": sz("5.1"),
        "Publisher": sz("Sparrow Tools"),
        "DisplayIcon": sz(r"C:\Program Files\Sparrow Zip\szfm.exe"),
        "UninstallString": sz(r'"C:\Program Files\Sparrow Zip\Uninstall.exe"'),
        "NoModify": dword(1),
    }, (4 * MB + 700000, utc(2023, 6, 19, 23, 30), 2, r"C:\Program Files\Sparrow Zip\szfm.exe")),
    # A component of Sparrow Zip: no display name, so no list entry.
    ("SparrowZipShell", {
        "SystemComponent": dword(1),
        "UninstallString": sz(r'"C:\Program Files\Sparrow Zip\Uninstall.exe" /shell'),
    }, None),
    # Its uninstaller has been deleted by hand; the program file is still there.
    ("TidewayChess", {
        "DisplayName": sz("Tideway Chess 1.0"),
        "DisplayVersion": sz("1.0"),
        "Publisher": sz("Tideway Games"),
        "DisplayIcon": sz(r"C:\Program Files (x86)\Tideway Chess\chess.exe,0"),
        "UninstallString": sz(r'"C:\Program Files (x86)\Tideway Chess\uninst.exe" /S'),
    }, (36 * MB, utc(2022, 1, 9, 12, 0), 0, r"C:\Program Files (x86)\Tideway Chess\chess.exe")),
    ("LanternFonts", {
        "DisplayName": sz("Lantern Font Pack"),
        "Publisher": sz("Lantern Type Foundry"),
        "UninstallString": sz(r"rundll32.exe advpack.dll,LaunchINFSection C:\windows\inf\lantern.inf,DefaultUninstall"),
    }, None),
    ("Recettes", {
        "DisplayName": sz("Recettes de Caf\u00e9 1.4"),
        "DisplayVersion": sz("1.4"),
        "Publisher": sz("\u00c9ditions Lumi\u00e8re"),
        "UninstallString": sz(r"C:\Program Files (x86)\Recettes de Cafe\uninst.exe"),
        "Comments": sz("Recettes, minuteur et carnet de d\u00e9gustation"),
    }, None),
]

# Program files: (Windows path, icon name or None, uninstall key the program deletes, or
# PLACEHOLDER for a program of Wine's own).
PLACEHOLDER = object()
FILES = [
    (r"Program Files\Birchwood Paint\bpaint.exe", "birchwood-paint", None),
    (r"Program Files\Birchwood Paint\unins000.exe", None, "BirchwoodPaint_is1"),
    (r"Program Files (x86)\Harbor Mail\harbormail.exe", "harbor-mail", None),
    (r"Program Files (x86)\Harbor Mail\uninstall.exe", None, "Harbor Mail"),
    (r"Program Files\Quillnote\quillnote.exe", "quillnote", None),
    (r"Program Files\Sparrow Zip\szfm.exe", "sparrow-zip", None),
    (r"Program Files\Sparrow Zip\Uninstall.exe", None, "Sparrow Zip"),
    (r"Program Files (x86)\Tideway Chess\chess.exe", "tideway-chess", None),
    (r"Program Files (x86)\Recettes de Cafe\uninst.exe", None, "Recettes"),
    # Wine's own programs, as a prefix holds them: placeholders for the built-in ones.
    (r"windows\system32\msiexec.exe", None, PLACEHOLDER),
    (r"windows\system32\rundll32.exe", None, PLACEHOLDER),
]

LANTERN_INF = """[Version]
Signature="$Windows NT$"

[DefaultUninstall]
DelReg=Lantern.DelReg

[Lantern.DelReg]
HKLM,"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LanternFonts"
"""


def system_keys():
    keys = {
        r"Software\Microsoft\Windows\CurrentVersion": {
            "CommonFilesDir": sz(r"C:\Program Files\Common Files"),
            "CommonFilesDir (x86)": sz(r"C:\Program Files (x86)\Common Files"),
            "ProgramFilesDir": sz(r"C:\Program Files"),
            "ProgramFilesDir (x86)": sz(r"C:\Program Files (x86)"),
        },
        r"Software\Microsoft\Windows NT\CurrentVersion": {
            "CurrentBuild": sz("7601"),
            "CurrentBuildNumber": sz("7601"),
            "CurrentVersion": sz("6.1"),
            "CSDVersion": sz("Service Pack 1"),
            "ProductName": sz("Microsoft Windows 7"),
            "SystemRoot": sz(r"C:\windows"),
        },
        r"System\CurrentControlSet\Control\Session Manager\Environment": {
            "ComSpec": expand_sz(r"%SystemRoot%\system32\cmd.exe"),
            "OS": sz("Windows_NT"),
            "PATH": expand_sz(r"%SystemRoot%\system32;%SystemRoot%;%SystemRoot%\system32\wbem;"
                              r"%SystemRoot%\system32\WindowsPowershell\v1.0"),
            "PATHEXT": sz(".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"),
            "TEMP": expand_sz(r"%SystemRoot%\temp"),
            "TMP": expand_sz(r"%SystemRoot%\temp"),
            "windir": expand_sz("%SystemRoot%"),
        },
    }
    for key, values, usage in ENTRIES:
        keys[UNINSTALL + "\\" + key] = values
        if usage:
            keys[ARPCACHE + "\\" + key] = {"SlowInfoCache": binary(slow_info_cache(*usage))}
    return keys


def write(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def main():
    if OUT.exists():
        shutil.rmtree(OUT)
    write(OUT / "system.reg", hive(r"REGISTRY\Machine", system_keys()).encode("ascii"))
    for name in ("user.reg", "userdef.reg"):
        shutil.copyfile(ROOT / "tests" / "data" / "prefix" / name, OUT / name)
    drive = OUT / "drive_c"
    for windows_path, icon, key in FILES:
        images = icon_images(icon) if icon else None
        if key is PLACEHOLDER:
            program = pe_file(placeholder=True)
        else:
            program = pe_file(images, UNINSTALL + "\\" + key if key else None)
        write(drive / Path(*windows_path.split("\\")), program)
    write(drive / "windows" / "Installer" / QUILL / "quillnote.ico", ico_file(icon_images("quillnote")))
    write(drive / "windows" / "inf" / "lantern.inf", LANTERN_INF.replace("\n", "\r\n").encode("ascii"))
    count = sum(1 for _ in OUT.rglob("*") if _.is_file())
    print(f"Wrote {count} files to {OUT.relative_to(ROOT)}")


if __name__ == "__main__":
    main()
