#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora under fuzz/corpus/ from the Wine-written files in tests/data/.

hive:        excerpts of the fixture hives (a few KB, each starting with the file's own header and
             options) and the broken files, each followed by a change script (see fuzz_hive.cpp)
shelllink:   the fixture shortcuts
peicon:      small PE32 and PE32+ images and .ico files built here (the fixtures hold none)
usagerecord: the "SlowInfoCache" records of the fixture system.reg
desktopentry: the menu and desktop entries that Wine wrote
keyvalues:   Steam's library list and an app manifest
appinfo:     Steam's binary app cache in its formats 27, 28 and 29, built here (the fixtures hold none)
"""
import pathlib
import re
import shutil
import struct
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "tests" / "data"
OUT = ROOT / "fuzz" / "corpus"
EXCERPT_BYTES = 3500

# Change scripts: op (set, delete value, create key, delete key), a two-byte key index, then what
# the op reads. Trailing script bytes that an op does not use start the next op.
SCRIPTS = [
    b"",
    bytes([0, 0, 3, 0, 2, ord("a"), 1, 0x84, 0x12, 0x34]),  # set a dword on a key
    bytes([1, 0, 5, 0, 2, 0, 1, 0]),  # delete a value, create a key below the root
    bytes([2, 0, 4, 2, 3, 1, 1, 2, 5, 3, 0, 7]),  # create two levels, delete a key
    bytes([0, 0, 6, 1, 0x80, 0, 0, 2, 4, 0, 1, 0x81, 3, 7, 8, 9]),  # reset a value, set a string
]


def sections(text):
    """The preamble and the key sections of a hive, blank lines going with the key that follows."""
    starts = [m.start() for m in re.finditer(rb"^[ \t]*\[", text, re.M)]
    bounds = [0] + starts + [len(text)]
    return [text[bounds[i] : bounds[i + 1]] for i in range(len(bounds) - 1)]


def excerpt(parts, pick):
    out = parts[0]
    for part in parts[1:]:
        if pick(part) and len(out) + len(part) <= EXCERPT_BYTES:
            out += part
    return out


def hive_seeds():
    system = sections((DATA / "prefix" / "system.reg").read_bytes())
    user = sections((DATA / "prefix" / "user.reg").read_bytes())
    texts = {
        "system-uninstall": excerpt(system, lambda s: b"\\\\Uninstall\\\\" in s.split(b"\n", 1)[0]),
        "system-arpcache": excerpt(system, lambda s: b"ARPCache" in s.split(b"\n", 1)[0]),
        "system-types": excerpt(
            system, lambda s: any(t in s for t in (b"#link", b"hex(7)", b"str(2)", b"#class", b"hex(2)"))
        ),
        "system-start": excerpt(system, lambda s: True),
        "user-start": excerpt(user, lambda s: True),
        "userdef": (DATA / "prefix" / "userdef.reg").read_bytes(),
    }
    for path in sorted((DATA / "broken").glob("*.reg")):
        texts["broken-" + path.stem] = path.read_bytes()
    for i, (name, text) in enumerate(sorted(texts.items())):
        script = SCRIPTS[i % len(SCRIPTS)]
        yield name, text + script + bytes([len(script)])


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def dib(bits, side, colours):
    """An icon DIB of side x side: header with the doubled height, palette, colour rows, AND mask."""
    palette = b"".join(bytes([b, g, r, 0]) for r, g, b in colours) if bits <= 8 else b""
    header = struct.pack("<IiiHHIIiiII", 40, side, side * 2, 1, bits, 0, 0, 0, 0, len(colours) if bits <= 8 else 0, 0)
    stride = (side * bits + 31) // 32 * 4
    rows = bytearray()
    for y in range(side):
        row = bytearray(stride)
        for x in range(side):
            if bits == 4:
                row[x // 2] |= ((x + y) % len(colours)) << (0 if x % 2 else 4)
            elif bits == 8:
                row[x] = (x + y) % len(colours)
            elif bits == 32:
                row[x * 4 : x * 4 + 4] = bytes([x * 16 % 256, y * 16 % 256, 128, 255 if x > y else 0])
        rows += row
    mask_stride = (side + 31) // 32 * 4
    mask = [bytes([0x80 if y == 0 else 0] + [0] * (mask_stride - 1)) for y in range(side)]
    return header + palette + bytes(rows) + b"".join(mask)


def png(side):
    def chunk(kind, body):
        return u32be(len(body)) + kind + body + u32be(zlib.crc32(kind + body))

    raw = b"".join(b"\0" + b"".join(bytes([x * 8 % 256, y * 8 % 256, 200, 255 - x]) for x in range(side)) for y in range(side))
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(raw))
        + chunk(b"IEND", b"")
    )


def u32be(v):
    return struct.pack(">I", v)


def image_side(image):
    return struct.unpack(">I", image[16:20])[0] if image.startswith(b"\x89PNG") else struct.unpack("<i", image[4:8])[0]


def image_bits(image):
    return 32 if image.startswith(b"\x89PNG") else struct.unpack("<H", image[14:16])[0]


def ico(images):
    out = u16(0) + u16(1) + u16(len(images))
    offset = 6 + 16 * len(images)
    for image in images:
        side = image_side(image) & 0xFF
        out += bytes([side, side, 0, 0]) + u16(1) + u16(image_bits(image)) + u32(len(image)) + u32(offset)
        offset += len(image)
    return out + b"".join(images)


def pe(pe32_plus, groups):
    """A PE image with one .rsrc section (RVA 0x1000, file offset 0x200) holding the icon groups;
    groups are (name or None, id, images), RT_ICON IDs numbered 1, 2, ... in group order."""
    rsrc_rva, rsrc_file = 0x1000, 0x200
    icons = [image for _, _, images in groups for image in images]
    n, g = len(icons), len(groups)
    icon_dir = 32
    group_dir = icon_dir + 16 + 8 * n
    lang_dirs = group_dir + 16 + 8 * g
    leaves = lang_dirs + 24 * (n + g)
    tree = bytearray(leaves + 16 * (n + g))

    def put(offset, fmt, *values):
        struct.pack_into(fmt, tree, offset, *values)

    def directory(offset, named, ids):
        put(offset + 12, "<HH", named, ids)

    def entry(dir_offset, index, name, target):
        put(dir_offset + 16 + 8 * index, "<II", name, target)

    def add_data(resource, data):
        lang_dir = lang_dirs + 24 * resource
        leaf = leaves + 16 * resource
        directory(lang_dir, 0, 1)
        entry(lang_dir, 0, 1033, leaf)
        put(leaf, "<II", rsrc_rva + len(tree), len(data))
        tree.extend(data + bytes(-len(data) % 4))
        return lang_dir

    directory(0, 0, 2)
    entry(0, 0, 3, 0x80000000 | icon_dir)
    entry(0, 1, 14, 0x80000000 | group_dir)
    directory(icon_dir, 0, n)
    directory(group_dir, sum(1 for name, _, _ in groups if name), sum(1 for name, _, _ in groups if not name))
    next_icon = 1
    for i, (name, gid, images) in enumerate(groups):
        key = gid
        if name:
            key = 0x80000000 | len(tree)
            tree.extend(u16(len(name)) + name.encode("utf-16-le"))
            tree.extend(bytes(-len(tree) % 4))
        data = u16(0) + u16(1) + u16(len(images))
        for image in images:
            side = image_side(image) & 0xFF
            data += bytes([side, side, 0, 0]) + u16(1) + u16(image_bits(image)) + u32(len(image)) + u16(next_icon)
            next_icon += 1
        entry(group_dir, i, key, 0x80000000 | add_data(n + i, data))
    for i, image in enumerate(icons):
        entry(icon_dir, i, i + 1, 0x80000000 | add_data(i, image))

    optional = 0x58
    optional_size = 240 if pe32_plus else 224
    directories = optional + (112 if pe32_plus else 96)
    head = bytearray(rsrc_file)
    head[0:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, 0x40)
    head[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HH", head, 0x44, 0x8664 if pe32_plus else 0x14C, 1)
    struct.pack_into("<H", head, 0x54, optional_size)
    struct.pack_into("<H", head, optional, 0x20B if pe32_plus else 0x10B)
    struct.pack_into("<I", head, directories - 4, 16)
    struct.pack_into("<II", head, directories + 16, rsrc_rva, len(tree))
    section = optional + optional_size
    head[section : section + 5] = b".rsrc"
    struct.pack_into("<IIII", head, section + 8, len(tree), rsrc_rva, len(tree), rsrc_file)
    return bytes(head) + bytes(tree)


def icon_seeds():
    colours = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (9, 8, 7)]
    d4, d8, d32, p = dib(4, 16, colours), dib(8, 16, colours), dib(32, 16, []), png(12)
    groups = [("MAIN", 0, [d4, p]), (None, 1, [d32]), (None, 7, [d8, d32])]
    yield "pe32.exe", pe(False, groups)
    yield "pe32plus.dll", pe(True, groups[1:])
    yield "three-sizes.ico", ico([d4, dib(32, 8, []), p])
    yield "png.ico", ico([png(20)])


def usage_seeds():
    text = (DATA / "prefix" / "system.reg").read_text(encoding="utf-8")
    pattern = re.compile(r'^\[([^\]]*ARPCache\\\\([^\]]*))\].*?^"SlowInfoCache"=hex:((?:[^\n]*\\\n)*[^\n]*)$', re.M | re.S)
    for match in pattern.finditer(text):
        record = bytes.fromhex(re.sub(r"[,\\\s]", "", match.group(3)))
        yield match.group(2).lower(), record


# Value types of the binary key-values: a table, a string, then the numbers as (type, struct format).
APPINFO_NUMBERS = {"i32": (0x02, "<i"), "f32": (0x03, "<f"), "ptr": (0x04, "<I"), "rgb": (0x06, "<I"),
                   "u64": (0x07, "<Q"), "i64": (0x0A, "<q")}


def appinfo_tree(items, keys, end=b"\x08"):
    """items: (key, value) pairs; a value is a list (table), a str, or (kind, number) as APPINFO_NUMBERS."""
    out = b""
    for key, value in items:
        if keys is None:
            name = key.encode() + b"\0"
        else:
            keys.setdefault(key, len(keys))
            name = u32(keys[key])
        if isinstance(value, list):
            out += b"\x00" + name + appinfo_tree(value, keys, end)
        elif isinstance(value, str):
            out += b"\x01" + name + value.encode() + b"\0"
        else:
            kind, fmt = APPINFO_NUMBERS[value[0]]
            out += bytes([kind]) + name + struct.pack(fmt, value[1])
    return out + end


def appinfo(version, apps, end=b"\x08"):
    """An appinfo.vdf of format 27, 28 or 29 holding apps, (app id, tree items) in order."""
    keys = {} if version == 29 else None
    fields = 40 if version == 27 else 60
    entries = b""
    for app_id, items in apps:
        tree = appinfo_tree(items, keys, end)
        # State, last change, access token, checksums and change number; their values are not read.
        body = struct.pack("<IIQ", 2, 1700000000, 0) + bytes(20) + u32(app_id * 7)
        body += bytes(fields - len(body))
        entries += u32(app_id) + u32(fields + len(tree)) + body + tree
    entries += u32(0)
    head = u32(0x07564400 + version // 10 * 16 + version % 10) + u32(1)
    if keys is None:
        return head + entries
    table = u32(len(keys)) + b"".join(k.encode() + b"\0" for k in keys)
    return head + struct.pack("<q", 16 + len(entries)) + entries + table


def appinfo_seeds():
    other = (220, [("appinfo", [("appid", ("i32", 220)), ("common", [("name", "Half-Life 2"), ("type", "Game")])])])
    tools = [
        (name, [("appid", ("i32", app)), ("aliases", aliases), ("display_name", shown)])
        for name, app, aliases, shown in [
            ("proton_8", 2348590, "proton_8,proton-8", "Proton 8.0"),
            ("proton_experimental", 1493710, "", "Proton - Experimental"),
            ("proton_9", 2805730, "", "Proton 9.0 (Beta)"),
        ]
    ]
    mappings = [(str(app), [("appid", ("i32", app)), ("tool", "proton_8"), ("comment", "whitelisted")]) for app in (220, 570)]
    manifest = (891390, [("appinfo", [("appid", ("i32", 891390)),
                                      ("extended", [("compat_tools", tools), ("app_mappings", mappings)])])])
    for version in (27, 28, 29):
        yield f"steamplay-{version}.vdf", appinfo(version, [other, manifest])
    numbers = [("size", ("u64", 2**64 - 1)), ("delta", ("i64", -9)), ("scale", ("f32", 1.5)),
               ("ptr", ("ptr", 7)), ("tint", ("rgb", 0xFF8000))]
    typed = (891390, [("appinfo", [("common", numbers), ("extended", [("compat_tools", tools[:1])])])])
    yield "typed-29.vdf", appinfo(29, [other, typed])
    yield "alternate-end-28.vdf", appinfo(28, [typed], end=b"\x0b")
    deepest = [("name", "deepest")]
    for _ in range(63):  # with "appinfo", as deep as the reader allows
        deepest = [("t", deepest)]
    yield "deep-27.vdf", appinfo(27, [(891390, [("appinfo", deepest)])])


def write(target, seeds):
    folder = OUT / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, data in seeds:
        (folder / name).write_bytes(data)


def main():
    write("fuzz_hive", ((name + ".reg", data) for name, data in hive_seeds()))
    shortcuts = sorted((DATA / "lnk").glob("*.lnk"))
    write("fuzz_shelllink", ((re.sub(r"[^A-Za-z0-9.]+", "-", p.name), p.read_bytes()) for p in shortcuts))
    write("fuzz_peicon", icon_seeds())
    write("fuzz_usagerecord", ((name + ".bin", data) for name, data in usage_seeds()))
    entries = sorted((DATA / "desktop").glob("*.desktop"))
    write("fuzz_desktopentry", ((re.sub(r"[^A-Za-z0-9.]+", "-", p.name), p.read_bytes()) for p in entries))
    steam = sorted((DATA / "steam").iterdir())
    write("fuzz_keyvalues", ((p.name, p.read_bytes()) for p in steam))
    write("fuzz_appinfo", appinfo_seeds())
    total = sum(p.stat().st_size for p in OUT.rglob("*") if p.is_file())
    print(f"{OUT.relative_to(ROOT)}: {sum(1 for p in OUT.rglob('*') if p.is_file())} files, {total} bytes")


if __name__ == "__main__":
    main()
