#!/usr/bin/python3
"""Checks the resources of the built launcher, read with pefile: the icon
group and its PNG images, the version record, and that nothing else (no
manifest in particular) is there.

Usage:
    check_resources.py <launcher.exe> --place <key> --max-bytes <n> [--icon-file <icon.ico>]
    check_resources.py --icon-file <icon.ico>

<key> is the place the launcher stands for (suite for the whole suite); its
version strings must name that place, and the file may be at most <n> bytes.
With --icon-file alone it checks the .ico file's own layout; with both, it
also checks that the launcher carries exactly that file's images.
Prints one FAIL line per problem and exits 1 when there is any.
"""
import struct
import sys
import zlib

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
TYPE_NAMES = {RT_ICON: "RT_ICON", RT_GROUP_ICON: "RT_GROUP_ICON", RT_VERSION: "RT_VERSION",
              RT_MANIFEST: "RT_MANIFEST"}
EN_US = 1033

# The icon's images, in order.
ICON_SIZES = (256, 64, 48, 32, 24, 16)

VERSION = (0, 1, 0, 181)
VERSION_TEXT = "0.1.0.181"
# VS_FIXEDFILEINFO's fields in order; the versions are checked as pairs.
FIXED_FIELDS = ("Signature", "StrucVersion", "FileVersionMS", "FileVersionLS", "ProductVersionMS",
                "ProductVersionLS", "FileFlagsMask", "FileFlags", "FileOS", "FileType", "FileSubtype",
                "FileDateMS", "FileDateLS")
FIXED_INFO = (
    ("Signature", 0xFEEF04BD),
    ("StrucVersion", 0x00010000),
    ("FileFlagsMask", 0),
    ("FileFlags", 0),
    ("FileOS", 0x00040004),  # VOS_NT_WINDOWS32
    ("FileType", 1),         # VFT_APP
    ("FileSubtype", 0),
    ("FileDateMS", 0),
    ("FileDateLS", 0),
)
STRING_TABLE = "040904e4"
# Each place's launcher: its display name, and its published file name (the
# display name's words, each begun with a capital, without the blanks).
PLACES = {
    "suite": ("Pivra Suite All In One", "PivraSuiteAllInOne.exe"),
    "messages": ("Pivra Suite Messaging", "PivraSuiteMessaging.exe"),
    "camera": ("Pivra Suite Camera", "PivraSuiteCamera.exe"),
    "contacts": ("Pivra Suite Contacts", "PivraSuiteContacts.exe"),
    "email": ("Pivra Suite Email", "PivraSuiteEmail.exe"),
    "them": ("Pivra Suite Friends In Common", "PivraSuiteFriendsInCommon.exe"),
    "map": ("Pivra Suite Map", "PivraSuiteMap.exe"),
    "music": ("Pivra Suite Music", "PivraSuiteMusic.exe"),
    "alarm": ("Pivra Suite Alarm and Reminders", "PivraSuiteAlarmAndReminders.exe"),
    "storage": ("Pivra Suite Storage Management", "PivraSuiteStorageManagement.exe"),
}


def version_strings(place):
    name, file_name = PLACES[place]
    return (
        ("CompanyName", "Pivra Suite"),
        ("FileDescription", name),
        ("FileVersion", VERSION_TEXT),
        ("ProductName", "Pivra Suite"),
        ("ProductVersion", VERSION_TEXT),
        ("OriginalFilename", file_name),
    )
TRANSLATION = (0x0409, 1252)


class Problems(list):
    def add(self, message):
        self.append(message)


# --- PNG ---------------------------------------------------------------

def check_png(data, size, where, problems):
    """An 8-bit RGBA PNG of size x size whose chunks and pixel data are whole."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        problems.add("%s is not a PNG (starts %s)" % (where, data[:8].hex()))
        return
    pos, chunks, idat = 8, [], b""
    while pos + 12 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if pos + 12 + length > len(data):
            problems.add("%s: chunk %r runs past the end" % (where, kind))
            return
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if crc != zlib.crc32(kind + body):
            problems.add("%s: chunk %r has a bad CRC" % (where, kind))
        chunks.append((kind, body))
        if kind == b"IDAT":
            idat += body
        pos += 12 + length
        if kind == b"IEND":
            break
    if not chunks or chunks[0][0] != b"IHDR" or len(chunks[0][1]) != 13:
        problems.add("%s: no IHDR chunk first" % where)
        return
    if chunks[-1][0] != b"IEND":
        problems.add("%s: does not end with IEND" % where)
    if pos != len(data):
        problems.add("%s: %d bytes after the PNG's end" % (where, len(data) - pos))
    width, height, depth, colour, compression, filtering, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    if (width, height) != (size, size):
        problems.add("%s: IHDR says %dx%d, expected %dx%d" % (where, width, height, size, size))
    if (depth, colour) != (8, 6):
        problems.add("%s: bit depth %d colour type %d, expected 8-bit RGBA (8, 6)" % (where, depth, colour))
    if (compression, filtering, interlace) != (0, 0, 0):
        problems.add("%s: compression/filter/interlace %d/%d/%d, expected 0/0/0"
                     % (where, compression, filtering, interlace))
    if (width, height, depth, colour, interlace) == (size, size, 8, 6, 0):
        try:
            raw = zlib.decompress(idat)
        except zlib.error as error:
            problems.add("%s: pixel data does not inflate: %s" % (where, error))
            return
        if len(raw) != size * (1 + 4 * size):
            problems.add("%s: pixel data is %d bytes, expected %d" % (where, len(raw), size * (1 + 4 * size)))
        elif any(raw[y * (1 + 4 * size)] > 4 for y in range(size)):
            problems.add("%s: a row has an unknown filter type" % where)


def check_icon_entries(entries, images, where, problems):
    """entries: dicts of a directory (.ico or RT_GROUP_ICON); images: their data."""
    if len(entries) != len(ICON_SIZES):
        problems.add("%s has %d images, expected %d (%s)"
                     % (where, len(entries), len(ICON_SIZES), ", ".join(map(str, ICON_SIZES))))
    got = [entry["width"] or 256 for entry in entries]
    if got != list(ICON_SIZES[:len(got)]) or len(got) != len(ICON_SIZES):
        problems.add("%s: image sizes in order %s, expected %s" % (where, got, list(ICON_SIZES)))
    for index, (entry, size) in enumerate(zip(entries, ICON_SIZES)):
        name = "%s image %d" % (where, index + 1)
        side = 0 if size == 256 else size
        expected = (("width", side), ("height", side), ("colours", 0), ("reserved", 0), ("planes", 1),
                    ("bitcount", 32))
        for field, value in expected:
            if entry[field] != value:
                problems.add("%s: %s is %d, expected %d" % (name, field, entry[field], value))
        data = images[index]
        if data is None:
            continue
        if entry["bytes"] != len(data):
            problems.add("%s: directory says %d bytes, the image has %d" % (name, entry["bytes"], len(data)))
        check_png(data, size, name, problems)


def read_ico(path, problems):
    """Gives the .ico file's images, after checking its directory."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 6:
        problems.add("%s is too short for an icon file" % path)
        return []
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    if (reserved, kind) != (0, 1):
        problems.add("%s: header %d/%d, expected 0/1 (an icon)" % (path, reserved, kind))
    if len(data) < 6 + 16 * count:
        problems.add("%s: directory of %d entries runs past the end" % (path, count))
        return []
    entries, images = [], []
    for i in range(count):
        w, h, colours, res, planes, bits, size, offset = struct.unpack("<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        entries.append(dict(width=w, height=h, colours=colours, reserved=res, planes=planes, bitcount=bits,
                            bytes=size))
        if offset + size > len(data):
            problems.add("%s image %d: bytes %d..%d lie past the end" % (path, i + 1, offset, offset + size))
            images.append(None)
        else:
            images.append(data[offset:offset + size])
    check_icon_entries(entries, images, path, problems)
    return images


# --- resources of the PE file ------------------------------------------

def resource_tree(pe, problems):
    """{type: {id: {language: bytes}}}, with every name and odd entry reported."""
    tree = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        problems.add("the file has no resources at all")
        return tree
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.name is not None:
            problems.add("unexpected named resource type %s" % type_entry.name)
            continue
        items = tree.setdefault(type_entry.id, {})
        for item in type_entry.directory.entries:
            label = str(item.name) if item.name is not None else item.id
            languages = items.setdefault(label, {})
            for language in item.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                languages[language.id] = data
    return tree


def single(tree, kind, ident, problems):
    """The data of resource (kind, ident), which must be in US English only;
    when it has one other language, that one's data, to check the rest."""
    name = "%s %s" % (TYPE_NAMES[kind], ident)
    languages = tree.get(kind, {}).get(ident)
    if languages is None:
        problems.add("%s is missing" % name)
        return None
    if list(languages) != [EN_US]:
        problems.add("%s has languages %s, expected only %d" % (name, sorted(languages), EN_US))
    if EN_US in languages:
        return languages[EN_US]
    return next(iter(languages.values())) if len(languages) == 1 else None


def ids(items):
    """Resource ids for messages: numbers in order, then names."""
    return sorted(items, key=lambda v: (isinstance(v, str), v if isinstance(v, int) else 0, str(v)))


def check_types(tree, problems):
    for kind in sorted(tree):
        if kind == RT_MANIFEST:
            problems.add("the file has an RT_MANIFEST (ids %s); it must have none" % sorted(map(str, tree[kind])))
        elif kind not in (RT_ICON, RT_GROUP_ICON, RT_VERSION):
            name = pefile.RESOURCE_TYPE.get(kind, "type %d" % kind)
            problems.add("unexpected resource type %s (%d)" % (name, kind))
    for kind in (RT_ICON, RT_GROUP_ICON, RT_VERSION):
        if kind not in tree:
            problems.add("no %s resources" % TYPE_NAMES[kind])


def check_icon_group(tree, problems):
    """Gives the RT_ICON images in the group's order."""
    groups = tree.get(RT_GROUP_ICON, {})
    if ids(groups) != [1]:
        problems.add("RT_GROUP_ICON ids are %s, expected only 1" % ids(groups))
    icons = tree.get(RT_ICON, {})
    expected_ids = list(range(1, len(ICON_SIZES) + 1))
    if ids(icons) != expected_ids:
        problems.add("RT_ICON ids are %s, expected %s" % (ids(icons), expected_ids))
    data = single(tree, RT_GROUP_ICON, 1, problems)
    if data is None:
        return []
    if len(data) < 6:
        problems.add("RT_GROUP_ICON 1 is %d bytes, too short" % len(data))
        return []
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    if (reserved, kind) != (0, 1):
        problems.add("RT_GROUP_ICON 1: header %d/%d, expected 0/1" % (reserved, kind))
    if len(data) != 6 + 14 * count:
        problems.add("RT_GROUP_ICON 1 is %d bytes, expected %d for %d entries" % (len(data), 6 + 14 * count, count))
        count = min(count, (len(data) - 6) // 14)
    entries, images = [], []
    for i in range(count):
        w, h, colours, res, planes, bits, size, ident = struct.unpack("<BBBBHHIH", data[6 + 14 * i:20 + 14 * i])
        entries.append(dict(width=w, height=h, colours=colours, reserved=res, planes=planes, bitcount=bits,
                            bytes=size))
        if ident != i + 1:
            problems.add("RT_GROUP_ICON 1 entry %d refers to RT_ICON %d, expected %d" % (i + 1, ident, i + 1))
        images.append(single(tree, RT_ICON, ident, problems) if ident in icons else None)
        if ident not in icons:
            problems.add("RT_GROUP_ICON 1 entry %d refers to RT_ICON %d, which is missing" % (i + 1, ident))
    check_icon_entries(entries, images, "RT_GROUP_ICON 1", problems)
    return images


def version_nodes(data, start, end, problems, where):
    """Parses VS_VERSIONINFO nodes in data[start:end]: (key, type, value, children)."""
    nodes = []
    pos = start
    while pos < end:
        if end - pos < 6:
            problems.add("%s: %d stray bytes at its end" % (where, end - pos))
            break
        length, value_length, kind = struct.unpack("<HHH", data[pos:pos + 6])
        if length < 6 or pos + length > end:
            problems.add("%s: a node of length %d does not fit" % (where, length))
            break
        node_end = pos + length
        key_end = pos + 6
        while key_end + 1 < node_end and data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[pos + 6:key_end].decode("utf-16-le", "replace")
        value_start = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if kind == 1 else value_length
        value = data[value_start:min(value_start + value_bytes, node_end)]
        children_start = min((value_start + value_bytes + 3) & ~3, node_end)
        children = version_nodes(data, children_start, node_end, problems, "%s/%s" % (where, key))
        nodes.append((key, kind, value, children))
        pos = (node_end + 3) & ~3
    return nodes


def text_value(raw):
    text = raw.decode("utf-16-le", "replace")
    head, _, tail = text.partition("\0")
    return head, tail.strip("\0") != ""


def check_version(pe, tree, strings_expected, problems):
    versions = tree.get(RT_VERSION, {})
    if ids(versions) != [1]:
        problems.add("RT_VERSION ids are %s, expected only 1" % ids(versions))
    data = single(tree, RT_VERSION, 1, problems)
    if data is None:
        return
    roots = version_nodes(data, 0, len(data), problems, "RT_VERSION 1")
    if len(roots) != 1 or roots[0][0] != "VS_VERSION_INFO":
        problems.add("RT_VERSION 1 does not hold one VS_VERSION_INFO block: %s" % [node[0] for node in roots])
        return
    _, _, fixed, blocks = roots[0]
    if len(fixed) != 52:
        problems.add("VS_FIXEDFILEINFO is %d bytes, expected 52" % len(fixed))
    else:
        values = dict(zip(FIXED_FIELDS, struct.unpack("<13I", fixed)))
        for which in ("File", "Product"):
            high, low = values[which + "VersionMS"], values[which + "VersionLS"]
            got = (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
            if got != VERSION:
                problems.add("fixed info %s version is %s, expected %s"
                             % (which.lower(), ".".join(map(str, got)), ".".join(map(str, VERSION))))
        for field, expected in FIXED_INFO:
            if values[field] != expected:
                problems.add("fixed info %s is 0x%08X, expected 0x%08X" % (field, values[field], expected))
        # pefile's own reading must agree with this one.
        fixed_by_pefile = getattr(pe, "VS_FIXEDFILEINFO", None)
        if not fixed_by_pefile:
            problems.add("pefile finds no VS_FIXEDFILEINFO")
        else:
            differ = [field for field in FIXED_FIELDS if getattr(fixed_by_pefile[0], field, None) != values[field]]
            if differ:
                problems.add("pefile reads fixed info fields %s differently" % ", ".join(differ))

    keys = sorted(node[0] for node in blocks)
    if keys != ["StringFileInfo", "VarFileInfo"]:
        problems.add("version record blocks are %s, expected StringFileInfo and VarFileInfo once each" % keys)
    for key, _, _, children in blocks:
        if key == "StringFileInfo":
            tables = [child[0] for child in children]
            if tables != [STRING_TABLE]:
                problems.add("StringFileInfo holds tables %s, expected only %s" % (tables, STRING_TABLE))
            for table_key, _, _, strings in children:
                if table_key != STRING_TABLE:
                    continue
                got = []
                for name, kind, raw, _ in strings:
                    value, trailing = text_value(raw)
                    if kind != 1:
                        problems.add("string %s is not stored as text (type %d)" % (name, kind))
                    if trailing:
                        problems.add("string %s has text after its terminating NUL" % name)
                    got.append((name, value))
                for index in range(max(len(got), len(strings_expected))):
                    have = got[index] if index < len(got) else None
                    want = strings_expected[index] if index < len(strings_expected) else None
                    if have != want:
                        problems.add("string %d of %s is %s, expected %s" % (index + 1, STRING_TABLE,
                                     "%s=%r" % have if have else "missing", "%s=%r" % want if want else "none"))
        elif key == "VarFileInfo":
            names = [child[0] for child in children]
            if names != ["Translation"]:
                problems.add("VarFileInfo holds %s, expected only Translation" % names)
            for name, _, raw, _ in children:
                if name != "Translation":
                    continue
                pairs = [struct.unpack("<HH", raw[i:i + 4]) for i in range(0, len(raw) - len(raw) % 4, 4)]
                if pairs != [TRANSLATION] or len(raw) != 4:
                    problems.add("Translation is %s, expected [(0x%04x, %d)]"
                                 % (["(0x%04x, %d)" % pair for pair in pairs], *TRANSLATION))

    # And pefile's reading of the string tables must agree with this one's.
    own = [(key, [(name, text_value(raw)[0]) for name, _, raw, _ in strings])
           for block, _, _, tables in blocks if block == "StringFileInfo" for key, _, _, strings in tables]
    seen = []
    for info in getattr(pe, "FileInfo", []) or []:
        for block in info:
            for table in getattr(block, "StringTable", []):
                seen.append((table.LangID.decode("ascii", "replace"),
                             [(k.decode("utf-8", "replace"), v.decode("utf-8", "replace"))
                              for k, v in table.entries.items()]))
    if seen != own:
        problems.add("pefile reads the string tables as %s, this script as %s" % (seen, own))


def check_launcher(path, place, max_bytes, icon_file_images, problems):
    with open(path, "rb") as f:
        size = len(f.read())
    if size > max_bytes:
        problems.add("%s is %d bytes, more than %d" % (path, size, max_bytes))
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        problems.add("%s cannot be read as a PE file: %s" % (path, error))
        return
    tree = resource_tree(pe, problems)
    check_types(tree, problems)
    images = check_icon_group(tree, problems)
    if icon_file_images is not None:
        for index, (embedded, original) in enumerate(zip(images, icon_file_images)):
            if embedded is not None and original is not None and embedded != original:
                problems.add("RT_GROUP_ICON 1 image %d differs from the icon file's image %d" % (index + 1, index + 1))
    check_version(pe, tree, version_strings(place), problems)


USAGE = ("usage: check_resources.py <launcher.exe> --place <%s> --max-bytes <n> [--icon-file <icon.ico>]\n"
         "       check_resources.py --icon-file <icon.ico>" % "|".join(PLACES))


def take_option(args, name):
    """Removes --name <value> from args; gives the value, or None."""
    if name not in args:
        return None
    at = args.index(name)
    if at + 1 >= len(args):
        raise ValueError(name)
    value = args[at + 1]
    del args[at:at + 2]
    return value


def main(argv):
    args = argv[1:]
    try:
        icon_file = take_option(args, "--icon-file")
        place = take_option(args, "--place")
        max_bytes = take_option(args, "--max-bytes")
    except ValueError:
        print(USAGE, file=sys.stderr)
        return 2
    launcher_ok = len(args) == 1 and place in PLACES and max_bytes is not None and max_bytes.isdigit()
    icon_only = not args and icon_file is not None and place is None and max_bytes is None
    if not launcher_ok and not icon_only:
        print(USAGE, file=sys.stderr)
        return 2
    problems = Problems()
    icon_images = read_ico(icon_file, problems) if icon_file is not None else None
    if args:
        check_launcher(args[0], place, int(max_bytes), icon_images, problems)
    for problem in problems:
        print("FAIL: " + problem)
    checked = " and ".join(([args[0]] if args else []) + ([icon_file] if icon_file else []))
    print("%s: %s" % (checked, "%d problem(s)" % len(problems) if problems else "resources as expected"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
