#!/usr/bin/env python3
"""Builds the zip test corpus in this folder.

Archives made by common tools (Info-ZIP zip, Python's zipfile, 7-Zip) come with a .manifest that
lists what extraction must produce: "F<TAB>name<TAB>size<TAB>crc32" per file, "D<TAB>name" per
folder. Hostile archives are written byte by byte by the small writer below, each named for the
fault it guards against; hostile.manifest records the refusal each must give.

Run from anywhere: python3 Tests/Data/zip/make_corpus.py (needs zip and 7z on PATH).
"""
import os
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FIXED_TIME = (2020, 6, 15, 13, 45, 30)
DOS_TIME = (13 << 11) | (45 << 5) | (30 // 2)
DOS_DATE = ((2020 - 1980) << 9) | (6 << 5) | 15


# ----------------------------------------------------------------------------------------------
# File contents come from (size, seed) by the generator that ZipTestSupport.cpp repeats, so the
# tests compare extracted files byte for byte without a copy of them in the tree.

def content(size, seed):
    """Odd seeds give incompressible bytes, even seeds text that deflates well."""
    x = seed
    out = bytearray(size)
    letters = b"zip \r\n"
    for i in range(size):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF if seed & 1 else letters[(x >> 16) % len(letters)]
    return bytes(out)


def tree_files():
    """name -> (size, seed); names use '/'; None marks a folder."""
    return {
        "readme.txt": (19, 2),
        "empty.txt": (0, 2),
        "docs/guide.txt": (270000, 4),  # more than one 256 KiB transfer buffer
        "docs/deep/deeper/noise.bin": (20000, 5),
        "docs/deep/tiny.dat": (3, 7),
        "bin/": None,
    }


def data_of(recipe):
    return content(*recipe)


def write_tree(root):
    for name, recipe in tree_files().items():
        path = os.path.join(root, *name.rstrip("/").split("/"))
        if recipe is None:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data_of(recipe))
    stamp = __import__("calendar").timegm(FIXED_TIME + (0, 0, 0))
    for dirpath, dirnames, filenames in os.walk(root):
        for n in dirnames + filenames:
            os.utime(os.path.join(dirpath, n), (stamp, stamp))


def write_manifest(archive, files):
    lines = []
    for name, recipe in files.items():
        if recipe is None:
            lines.append(f"D\t{name}")
        else:
            lines.append(f"F\t{name}\t{recipe[0]}\t{recipe[1]}")
    with open(os.path.join(HERE, archive + ".manifest"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def tool_archives():
    files = tree_files()
    work = tempfile.mkdtemp()
    try:
        src = os.path.join(work, "src")
        os.makedirs(src)
        write_tree(src)
        env = dict(os.environ, TZ="UTC")
        for archive, args in [
            ("infozip_tree.zip", ["zip", "-q", "-X", "-r"]),
            ("infozip_zip64_forced.zip", ["zip", "-q", "-X", "-r", "-fz"]),
        ]:
            out = os.path.join(HERE, archive)
            if os.path.exists(out):
                os.remove(out)
            subprocess.run(args + [out, "."], cwd=src, env=env, check=True)
            write_manifest(archive, files)
        out = os.path.join(HERE, "sevenzip_tree.zip")
        if os.path.exists(out):
            os.remove(out)
        subprocess.run(["7z", "a", "-tzip", "-bso0", "-bsp0", out, "."], cwd=src, env=env, check=True)
        write_manifest("sevenzip_tree.zip", files)
    finally:
        shutil.rmtree(work)

    # Python's zipfile: stored and deflated entries, UTF-8 names (it sets the flag itself), and
    # Zip64 local headers forced on small entries.
    unicode_files = {
        "stored.bin": (3001, 9),
        "deflated.txt": (5500, 10),
        "\u00fcbersicht/\u65e5\u672c\u8a9e.txt": (7, 12),
        "\u00fcbersicht/": None,
    }
    out = os.path.join(HERE, "python_unicode.zip")
    with zipfile.ZipFile(out, "w") as z:
        for name, recipe in unicode_files.items():
            info = zipfile.ZipInfo(name, FIXED_TIME)
            if recipe is None:
                z.writestr(info, b"")
                continue
            info.compress_type = zipfile.ZIP_STORED if name.endswith(".bin") else zipfile.ZIP_DEFLATED
            with z.open(info, "w", force_zip64=True) as f:
                f.write(data_of(recipe))
    write_manifest("python_unicode.zip", unicode_files)


# ----------------------------------------------------------------------------------------------
# A byte-level writer for hostile archives.

class Entry:
    def __init__(self, name, data=b"", method=8, **kw):
        self.raw_name = name if isinstance(name, bytes) else name.encode("cp437")
        self.data = data
        self.method = method
        self.flags = kw.get("flags", 0)
        self.crc = kw.get("crc", zlib.crc32(data))
        if method == 8:
            c = zlib.compressobj(9, zlib.DEFLATED, -15)
            self.payload = c.compress(data) + c.flush()
        else:
            self.payload = data
        self.payload = kw.get("payload", self.payload)
        self.csize = kw.get("csize", len(self.payload))
        self.usize = kw.get("usize", len(data))
        self.central_extra = kw.get("central_extra", b"")
        self.local_extra = kw.get("local_extra", b"")
        self.local_extra_length = kw.get("local_extra_length", len(self.local_extra))
        self.offset_override = kw.get("offset")
        self.local_signature = kw.get("local_signature", 0x04034B50)
        self.external = kw.get("external", 0)
        self.made_by = kw.get("made_by", 20)


def extra(field_id, data):
    return struct.pack("<HH", field_id, len(data)) + data


def unicode_path(raw_name, text, crc=None):
    return extra(0x7075, b"\x01" + struct.pack("<I", zlib.crc32(raw_name) if crc is None else crc)
                 + text.encode("utf-8"))


def build(entries, comment=b"", count=None, cd_offset=None, cd_size=None, disk=0, zip64=None,
          extra_headers=b""):
    """zip64: None, or a dict of overrides for the Zip64 end record (entries/size/offset) and
    'locator_offset'; with zip64 every size and offset of the entries also goes through Zip64."""
    out = bytearray()
    offsets = []
    for e in entries:
        offsets.append(len(out))
        out += struct.pack("<IHHHHHIIIHH", e.local_signature, 20, e.flags, e.method, DOS_TIME, DOS_DATE, e.crc,
                           e.csize & 0xFFFFFFFF, e.usize & 0xFFFFFFFF, len(e.raw_name), e.local_extra_length)
        out += e.raw_name + e.local_extra + e.payload
    start = len(out)
    for e, off in zip(entries, offsets):
        off = e.offset_override if e.offset_override is not None else off
        ext = e.central_extra
        csize, usize, loff = e.csize, e.usize, off
        if zip64 is not None:
            ext = extra(1, struct.pack("<QQQ", usize, csize, off)) + ext
            csize = usize = loff = 0xFFFFFFFF
        out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, e.made_by, 20, e.flags, e.method, DOS_TIME, DOS_DATE,
                           e.crc, csize & 0xFFFFFFFF, usize & 0xFFFFFFFF, len(e.raw_name), len(ext), 0, 0, 0,
                           e.external, loff & 0xFFFFFFFF)
        out += e.raw_name + ext
    out += extra_headers
    size = len(out) - start
    n = len(entries) if count is None else count
    if zip64 is not None:
        record = len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, zip64.get("entries", n),
                           zip64.get("entries", n), zip64.get("size", size), zip64.get("offset", start))
        out += struct.pack("<IIQI", 0x07064B50, 0, zip64.get("locator_offset", record), 1)
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, len(comment))
    else:
        out += struct.pack("<IHHHHIIH", 0x06054B50, disk, disk, n & 0xFFFF, n & 0xFFFF,
                           size if cd_size is None else cd_size, start if cd_offset is None else cd_offset,
                           len(comment))
    return bytes(out + comment)


EXPECTATIONS = []


def save(name, data, phase=None, error=None, file_left=False):
    """phase: "open" or "extract", where the refusal comes; error: its message name without the
    ERR_ prefix; file_left: the refused entry's file stays behind. hostile.manifest gathers them."""
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
    if phase:
        EXPECTATIONS.append(f"{name}\t{phase}\tERR_{error}\t{int(file_left)}")


CORRUPT = "ZLIB_ZIPARCHIVE_CORRUPTED"
ILLEGAL = "ZLIB_ZIPARCHIVE_ILLEGAL_PATH"
FAILED = "ZLIB_ZIPARCHIVE_EXTRACTION_FAILED"
ENCRYPTED = "ZLIB_ZIPARCHIVE_ENCRYPTION_UNSUPPORTED"


def hostile_archives():
    ok = Entry("ok.txt", b"fine\n")
    for name, raw in [
        ("traversal_dotdot_slash.zip", b"../evil.txt"),
        ("traversal_dotdot_backslash.zip", b"..\\evil.txt"),
        ("traversal_inner_dotdot.zip", b"a/b/../../../evil.txt"),
        ("traversal_trailing_dotdot.zip", b"a/.."),
        ("absolute_slash.zip", b"/tmp/evil.txt"),
        ("absolute_backslash.zip", b"\\evil.txt"),
        ("drive_absolute.zip", b"C:\\evil.txt"),
        ("drive_relative.zip", b"C:evil.txt"),
        ("unc_backslash.zip", b"\\\\server\\share\\evil.txt"),
        ("unc_slash.zip", b"//server/share/evil.txt"),
        ("device_namespace.zip", b"\\\\?\\C:\\evil.txt"),
        ("dot_before_separator.zip", b"a./evil.txt"),
        ("dot_before_backslash.zip", b"a.\\evil.txt"),
        ("trailing_space_step.zip", b"a /evil.txt"),
        ("empty_step.zip", b"a//evil.txt"),
        ("alternate_stream.zip", b"ok.txt:hidden"),
        ("device_name.zip", b"docs/con.txt"),
        ("nul_in_name.zip", b"ok.txt\x00/../../evil.txt"),
        ("empty_name.zip", b""),
    ]:
        # The legal entry first: one illegal name must make the whole archive fail to open.
        save(name, build([ok, Entry(raw, b"evil\n")]), "open", ILLEGAL)
    save("unicode_path_traversal.zip",
         build([Entry("safe.txt", b"x", central_extra=unicode_path(b"safe.txt", "../evil.txt"))]), "open", ILLEGAL)

    # Records that lie about sizes, counts and offsets.
    for name, data in [
        ("too_short.zip", b"PK\x05"),
        ("not_a_zip.zip", b"This is not an archive.\n" * 100),
        ("fewer_headers_than_announced.zip", build([ok, Entry("two.txt", b"2")], count=3)),
        ("count_exceeds_directory.zip", build([ok], count=0xFFFF)),
        ("central_directory_past_end.zip", build([ok], cd_offset=0x7FFFFFF0)),
        ("central_directory_size_past_end.zip", build([ok], cd_size=0x10000)),
        ("multi_disk.zip", build([ok], disk=1)),
        ("overlapping_entries.zip", build([ok, Entry("copy.txt", b"fine\n", offset=0)])),
        ("local_offset_into_directory.zip", build([ok, Entry("late.txt", b"late", offset=0x60)])),
        ("extra_field_too_long.zip",
         build([Entry("x.txt", b"x", central_extra=struct.pack("<HH", 0x5455, 40) + b"1234")])),
        ("zip64_size_not_set.zip", build([Entry("x.txt", b"x", usize=0xFFFFFFFF)])),
        ("zip64_large_without_record.zip",
         build([Entry("x.txt", b"x", usize=0xFFFFFFFF, central_extra=extra(1, struct.pack("<Q", 0x80000000)))])),
        ("zip64_record_offset_lies.zip", build([ok], zip64={"offset": 0xFFFFFFFF0})),
        ("zip64_record_count_lies.zip", build([ok], zip64={"entries": 1 << 60})),
        ("zip64_locator_past_end.zip", build([ok], zip64={"locator_offset": 1 << 40})),
    ]:
        save(name, data, "open", CORRUPT)

    # Entries refused when extracted.
    whole = Entry("x.txt", bytes(range(256)) * 64)
    c = zlib.compressobj(9, 8, -15)
    bomb = c.compress(b"\x00" * (1 << 20)) + c.flush()
    for name, data, error, left in [
        ("empty_archive.zip", build([]), "ZLIB_ZIPARCHIVE_FILE_NOT_FOUND", False),
        ("bad_local_signature.zip", build([Entry("x.txt", b"x", local_signature=0x04034B51)]), CORRUPT, False),
        ("local_extra_overlaps_next.zip", build([Entry("x.txt", b"x", local_extra_length=0xFF), ok]), CORRUPT, False),
        ("encrypted_traditional.zip", build([Entry("x.txt", b"x", flags=0x0001)]), ENCRYPTED, False),
        ("encrypted_strong.zip", build([Entry("x.txt", b"x", flags=0x0041)]), ENCRYPTED, False),
        ("encrypted_directory.zip", build([Entry("x.txt", b"x", flags=0x2000)]), ENCRYPTED, False),
        ("method12_bzip2.zip", build([Entry("x.bz2", b"BZh9", method=12)]),
         "ZLIB_ZIPARCHIVE_COMPRESSION_UNSUPPORTED", False),
        ("stored_size_mismatch.zip", build([Entry("x.txt", b"data", method=0, usize=3)]), FAILED, False),
        ("wrong_crc_deflated.zip", build([Entry("x.txt", b"data " * 50, crc=0x12345678)]), FAILED, True),
        ("wrong_crc_stored.zip", build([Entry("x.txt", b"data", method=0, crc=0x12345678)]), FAILED, True),
        ("deflate_truncated_stream.zip",
         build([Entry("x.txt", whole.data, payload=whole.payload[:len(whole.payload) // 2])]), FAILED, True),
        ("deflate_more_than_declared.zip", build([Entry("x.bin", b"\x00" * 1000, payload=bomb)]), FAILED, True),
        ("deflate_less_than_declared.zip", build([Entry("x.bin", b"\x00" * 1000, usize=5000)]), FAILED, True),
        ("deflate_garbage.zip", build([Entry("x.txt", b"hello", payload=b"\xff" * 6)]), "ZLIB_STREAM_CORRUPTED",
         True),
    ]:
        save(name, data, "extract", error, left)
    with open(os.path.join(HERE, "hostile.manifest"), "w", newline="\n") as f:
        f.write("\n".join(EXPECTATIONS) + "\n")


def valid_archives():
    """Hand-made archives that must open and extract: Zip64 everywhere, a 65,535-byte comment
    ending in a stray end-record signature, name decoding, times and attributes."""
    files = {"ok.txt": (5, 2), "dir/": None, "dir/stored.bin": (270001, 3), "dir/deflated.txt": (5000, 6)}
    entries = [Entry(n, b"", method=0) if recipe is None else
               Entry(n, data_of(recipe), method=0 if n.endswith(".bin") else 8) for n, recipe in files.items()]
    save("zip64_all_fields.zip", build(entries, zip64={}))
    write_manifest("zip64_all_fields.zip", files)
    save("zip64_small.zip", build([Entry("a.txt", b"zip64 " * 20), Entry("d/", b"", method=0),
                                   Entry("d/b.bin", b"stored", method=0)], zip64={}))
    save("comment_65535.zip", build(entries[:1], comment=b"c" * 65531 + b"PK\x05\x06"))
    write_manifest("comment_65535.zip", {"ok.txt": files["ok.txt"]})

    # Names decoded by the code page (866 in the tests), the UTF-8 flag and a Unicode path field
    # (whose CRC must match the raw name, or the raw name stands).
    raw = "caf\u00e9.txt".encode("cp437")
    for archive, entries, names in [
        ("names_code_page_866.zip", [Entry("\u041f\u0440\u0438\u0432\u0435\u0442.txt".encode("cp866"), data_of((8, 2)))],
         ["\u041f\u0440\u0438\u0432\u0435\u0442.txt"]),
        ("names_utf8_flag.zip", [Entry("\u65e5\u672c.txt".encode("utf-8"), data_of((8, 2)), flags=0x0800)],
         ["\u65e5\u672c.txt"]),
        ("names_unicode_field.zip",
         [Entry(raw, data_of((8, 2)), central_extra=unicode_path(raw, "\u00e9t\u00e9/\u03b1\u03b2.txt")),
          Entry(b"bad_crc.txt", data_of((8, 2)), central_extra=unicode_path(b"bad_crc.txt", "other.txt", crc=1))],
         ["\u00e9t\u00e9/\u03b1\u03b2.txt", "bad_crc.txt"]),
    ]:
        save(archive, build(entries))
        write_manifest(archive, {name: (8, 2) for name in names})
    save("attributes_and_times.zip",
         build([Entry("readonly.txt", b"ro", external=0x01, made_by=0x0014),
                Entry("hidden.txt", b"h", external=0x02, made_by=0x0014),
                Entry("unix_readonly.txt", b"u", external=(0o100444 << 16), made_by=0x0314),
                Entry("unix_writable.txt", b"w", external=(0o100644 << 16), made_by=0x0314),
                Entry("zero_length.txt", b"", method=0)]))


if __name__ == "__main__":
    tool_archives()
    hostile_archives()
    valid_archives()
