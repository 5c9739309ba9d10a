#!/usr/bin/env python3
"""Builds the zip test corpus in this folder: python3 Tests/Data/zip/make_corpus.py (needs zip and 7z).

Archives that must extract come with X.zip.manifest: "F<TAB>name<TAB>size<TAB>seed" per file (its
bytes are content(size, seed), which ZipTestSupport.cpp repeats) and "D<TAB>name" per folder.
Hostile archives are written byte by byte, each named for the fault it guards against;
hostile.manifest gives for each "name<TAB>open|extract<TAB>error<TAB>1 if the refused file stays".
"""
import calendar
import os
import struct
import subprocess
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FIXED_TIME = (2020, 6, 15, 13, 45, 30)
DOS_TIME, DOS_DATE = (13 << 11) | (45 << 5) | (30 // 2), ((2020 - 1980) << 9) | (6 << 5) | 15
TREE = {"readme.txt": (19, 2), "empty.txt": (0, 2), "docs/guide.txt": (270000, 4),  # > one 256 KiB buffer
        "docs/deep/deeper/noise.bin": (20000, 5), "docs/deep/tiny.dat": (3, 7), "bin/": None}


def content(size, seed):
    """Odd seeds give incompressible bytes, even seeds text that deflates well."""
    out, x = bytearray(size), seed
    for i in range(size):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF if seed & 1 else b"zip \r\n"[(x >> 16) % 6]
    return bytes(out)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def write_manifest(archive, files):
    """files: name -> (size, seed), None for a folder."""
    write(archive + ".manifest", "".join(f"D\t{n}\n" if r is None else f"F\t{n}\t{r[0]}\t{r[1]}\n"
                                         for n, r in files.items()))


def tool_archives():
    with tempfile.TemporaryDirectory() as src:
        for name, recipe in TREE.items():
            path = os.path.join(src, *name.rstrip("/").split("/"))
            os.makedirs(path if recipe is None else os.path.dirname(path), exist_ok=True)
            if recipe is not None:
                write(path, content(*recipe))
        stamp = calendar.timegm(FIXED_TIME)
        for folder, folders, files in os.walk(src):
            for n in folders + files:
                os.utime(os.path.join(folder, n), (stamp, stamp))
        for archive, command in [("infozip_tree.zip", ["zip", "-q", "-X", "-r"]),
                                 ("infozip_zip64_forced.zip", ["zip", "-q", "-X", "-r", "-fz"]),
                                 ("sevenzip_tree.zip", ["7z", "a", "-tzip", "-bso0", "-bsp0"])]:
            out = os.path.join(HERE, archive)
            if os.path.exists(out):
                os.remove(out)
            subprocess.run(command + [out, "."], cwd=src, env=dict(os.environ, TZ="UTC"), check=True)
            write_manifest(archive, TREE)

    # Python's zipfile: stored and deflated entries, UTF-8 names (it sets the flag itself), and
    # Zip64 local headers forced on small entries.
    files = {"stored.bin": (3001, 9), "deflated.txt": (5500, 10), "übersicht/日本語.txt": (7, 12),
             "übersicht/": None}
    with zipfile.ZipFile(os.path.join(HERE, "python_unicode.zip"), "w") as z:
        for name, recipe in files.items():
            info = zipfile.ZipInfo(name, FIXED_TIME)
            if recipe is None:
                z.writestr(info, b"")
                continue
            info.compress_type = zipfile.ZIP_STORED if name.endswith(".bin") else zipfile.ZIP_DEFLATED
            with z.open(info, "w", force_zip64=True) as f:
                f.write(content(*recipe))
    write_manifest("python_unicode.zip", files)


class Entry:
    """One entry of a hand-made archive; the keywords make its records lie."""
    def __init__(self, name, data=b"", method=8, flags=0, crc=None, payload=None, csize=None, usize=None,
                 central_extra=b"", local_extra_length=0, offset=None, local_signature=0x04034B50, external=0,
                 made_by=20):
        vars(self).update(locals())
        self.name = name if isinstance(name, bytes) else name.encode("cp437")
        self.crc = zlib.crc32(data) if crc is None else crc
        self.usize = len(data) if usize is None else usize
        if payload is None:
            c = zlib.compressobj(9, zlib.DEFLATED, -15)
            self.payload = c.compress(data) + c.flush() if method == 8 else data
        self.csize = len(self.payload) if csize is None else csize


def extra(field_id, data):
    return struct.pack("<HH", field_id, len(data)) + data


def unicode_path(raw_name, text, crc=None):
    crc = zlib.crc32(raw_name) if crc is None else crc
    return extra(0x7075, b"\x01" + struct.pack("<I", crc) + text.encode("utf-8"))


def build(entries, comment=b"", count=None, cd_offset=None, cd_size=None, disk=0, zip64=None):
    """zip64: None, or overrides of the Zip64 end record ("entries", "size", "offset", "locator_offset");
    with it every size and offset of the entries goes through a Zip64 field."""
    out, offsets = bytearray(), []
    for e in entries:
        offsets.append(len(out) if e.offset is None else e.offset)
        out += struct.pack("<IHHHHHIIIHH", e.local_signature, 20, e.flags, e.method, DOS_TIME, DOS_DATE, e.crc,
                           e.csize, e.usize, len(e.name), e.local_extra_length) + e.name + e.payload
    start = len(out)
    for e, offset in zip(entries, offsets):
        fields, ext = (e.csize, e.usize, offset), e.central_extra
        if zip64 is not None:
            fields, ext = (0xFFFFFFFF,) * 3, extra(1, struct.pack("<QQQ", e.usize, e.csize, offset)) + ext
        out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, e.made_by, 20, e.flags, e.method, DOS_TIME, DOS_DATE,
                           e.crc, fields[0], fields[1], len(e.name), len(ext), 0, 0, 0, e.external, fields[2])
        out += e.name + ext
    size, n = len(out) - start, len(entries) if count is None else count
    if zip64 is not None:
        z, record = zip64.get, len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, z("entries", n), z("entries", n),
                           z("size", size), z("offset", start))
        out += struct.pack("<IIQI", 0x07064B50, 0, z("locator_offset", record), 1)
        n = size = start = 0xFFFFFFFF
    out += struct.pack("<IHHHHIIH", 0x06054B50, disk, disk, n & 0xFFFF, n & 0xFFFF,
                       size if cd_size is None else cd_size, start if cd_offset is None else cd_offset, len(comment))
    return bytes(out + comment)


def hostile_archives():
    ok, expectations = Entry("ok.txt", b"fine\n"), []

    def refused(name, phase, error, data, file_left=False):
        write(name, data)
        expectations.append(f"{name}\t{phase}\tERR_ZLIB_{error}\t{int(file_left)}\n")

    # The legal entry first: one illegal name must make the whole archive fail to open.
    for name, raw in [
        ("traversal_dotdot_slash", b"../evil.txt"), ("traversal_dotdot_backslash", b"..\\evil.txt"),
        ("traversal_inner_dotdot", b"a/b/../../../evil.txt"), ("traversal_trailing_dotdot", b"a/.."),
        ("absolute_slash", b"/tmp/evil.txt"), ("absolute_backslash", b"\\evil.txt"),
        ("drive_absolute", b"C:\\evil.txt"), ("drive_relative", b"C:evil.txt"),
        ("unc_backslash", b"\\\\server\\share\\evil.txt"), ("unc_slash", b"//server/share/evil.txt"),
        ("device_namespace", b"\\\\?\\C:\\evil.txt"), ("dot_before_separator", b"a./evil.txt"),
        ("dot_before_backslash", b"a.\\evil.txt"), ("trailing_space_step", b"a /evil.txt"),
        ("empty_step", b"a//evil.txt"), ("alternate_stream", b"ok.txt:hidden"), ("device_name", b"docs/con.txt"),
        ("nul_in_name", b"ok.txt\x00/../../evil.txt"), ("empty_name", b""),
    ]:
        refused(name + ".zip", "open", "ZIPARCHIVE_ILLEGAL_PATH", build([ok, Entry(raw, b"evil\n")]))
    refused("unicode_path_traversal.zip", "open", "ZIPARCHIVE_ILLEGAL_PATH",
            build([Entry("safe.txt", b"x", central_extra=unicode_path(b"safe.txt", "../evil.txt"))]))

    # Records that lie about sizes, counts and offsets.
    for name, data in [
        ("too_short", b"PK\x05"),
        ("not_a_zip", b"This is not an archive.\n" * 100),
        # A long name, so that the announced count stays within what the directory's size allows.
        ("fewer_headers_than_announced",
         build([ok, Entry("fewer-headers-than-the-end-record-says.txt", b"2")], count=3)),
        ("count_exceeds_directory", build([ok], count=0xFFFF)),
        ("central_directory_past_end", build([ok], cd_offset=0x7FFFFFF0)),
        ("central_directory_size_past_end", build([ok], cd_size=0x10000)),
        ("multi_disk", build([ok], disk=1)),
        ("overlapping_entries", build([ok, Entry("copy.txt", b"fine\n", offset=0)])),
        ("compressed_size_into_next_header", build([Entry("x.txt", b"x", csize=28), ok])),  # 8 bytes to the next
        ("local_offset_into_directory", build([ok, Entry("late.txt", b"late", offset=0x60)])),
        ("extra_field_too_long", build([Entry("x.txt", b"x", central_extra=struct.pack("<HH", 0x5455, 40) + b"1234")])),
        ("zip64_size_not_set", build([Entry("x.txt", b"x", usize=0xFFFFFFFF)])),
        ("zip64_large_without_record",
         build([Entry("x.txt", b"x", usize=0xFFFFFFFF, central_extra=extra(1, struct.pack("<Q", 0x80000000)))])),
        ("zip64_record_offset_lies", build([ok], zip64={"offset": 0xFFFFFFFF0})),
        ("zip64_record_count_lies", build([ok], zip64={"entries": 1 << 60})),
        ("zip64_locator_past_end", build([ok], zip64={"locator_offset": 1 << 40})),
    ]:
        refused(name + ".zip", "open", "ZIPARCHIVE_CORRUPTED", data)

    # Entries refused when extracted.
    whole = Entry("x.txt", bytes(range(256)) * 64)
    zeros, failed, corrupt = b"\x00" * 1000, "ZIPARCHIVE_EXTRACTION_FAILED", "ZIPARCHIVE_CORRUPTED"
    bomb = Entry("x.bin", b"\x00" * (1 << 20)).payload
    for name, data, error, left in [
        ("empty_archive", build([]), "ZIPARCHIVE_FILE_NOT_FOUND", 0),
        ("bad_local_signature", build([Entry("x.txt", b"x", local_signature=0x04034B51)]), corrupt, 0),
        ("local_extra_overlaps_next", build([Entry("x.txt", b"x", local_extra_length=0xFF), ok]), corrupt, 0),
        ("encrypted_traditional", build([Entry("x.txt", b"x", flags=0x0001)]), "ZIPARCHIVE_ENCRYPTION_UNSUPPORTED", 0),
        ("encrypted_strong", build([Entry("x.txt", b"x", flags=0x0041)]), "ZIPARCHIVE_ENCRYPTION_UNSUPPORTED", 0),
        ("encrypted_directory", build([Entry("x.txt", b"x", flags=0x2000)]), "ZIPARCHIVE_ENCRYPTION_UNSUPPORTED", 0),
        ("method12_bzip2", build([Entry("x.bz2", b"BZh9", method=12)]), "ZIPARCHIVE_COMPRESSION_UNSUPPORTED", 0),
        ("stored_size_mismatch", build([Entry("x.txt", b"data", method=0, usize=3)]), failed, 0),
        ("wrong_crc_deflated", build([Entry("x.txt", b"data " * 50, crc=0x12345678)]), failed, 1),
        ("wrong_crc_stored", build([Entry("x.txt", b"data", method=0, crc=0x12345678)]), failed, 1),
        ("deflate_truncated_stream",
         build([Entry("x.txt", whole.data, payload=whole.payload[:len(whole.payload) // 2])]), failed, 1),
        ("deflate_more_than_declared", build([Entry("x.bin", zeros, payload=bomb)]), failed, 1),
        ("deflate_less_than_declared", build([Entry("x.bin", zeros, usize=5000)]), failed, 1),
        ("deflate_garbage", build([Entry("x.txt", b"hello", payload=b"\xff" * 6)]), "STREAM_CORRUPTED", 1),
    ]:
        refused(name + ".zip", "extract", error, data, left)
    write("hostile.manifest", "".join(expectations))


def valid_archives():
    """Hand-made archives that must extract: Zip64 everywhere, a deflate bomb, a 65,535-byte comment
    ending in a stray end-record signature, names by code page, UTF-8 flag and Unicode path field
    (whose CRC must match the raw name, or the raw name stands), times and attributes."""
    files = {"ok.txt": (5, 2), "dir/": None, "dir/stored.bin": (270001, 3), "dir/deflated.txt": (5000, 6)}
    entries = [Entry(n, content(*r) if r else b"", method=8 if n.endswith(".txt") else 0) for n, r in files.items()]
    write("zip64_all_fields.zip", build(entries, zip64={}))
    write_manifest("zip64_all_fields.zip", files)
    write("zip64_small.zip", build([Entry("a.txt", b"zip64 " * 20), Entry("d/", method=0),
                                    Entry("d/b.bin", b"stored", method=0)], zip64={}))
    write("deflate_bomb.zip", build([Entry("bomb.bin", bytes(64 << 20))]))  # 64 MiB of zeros in 64 KiB
    write("comment_65535.zip", build(entries[:1], comment=b"c" * 65531 + b"PK\x05\x06"))
    write_manifest("comment_65535.zip", {"ok.txt": files["ok.txt"]})
    raw, text = "café.txt".encode("cp437"), content(8, 2)
    for archive, entries in [
        ("names_code_page_866", {"Привет.txt": Entry("Привет.txt".encode("cp866"), text)}),
        ("names_utf8_flag", {"日本.txt": Entry("日本.txt".encode("utf-8"), text, flags=0x0800)}),
        ("names_unicode_field", {"été/αβ.txt": Entry(raw, text, central_extra=unicode_path(raw, "été/αβ.txt")),
                                 "bad_crc.txt": Entry(b"bad_crc.txt", text,
                                                      central_extra=unicode_path(b"bad_crc.txt", "other.txt", 1))}),
    ]:
        write(archive + ".zip", build(list(entries.values())))
        write_manifest(archive + ".zip", {name: (8, 2) for name in entries})
    write("attributes_and_times.zip",
          build([Entry("readonly.txt", b"ro", external=0x01), Entry("hidden.txt", b"h", external=0x02),
                 Entry("unix_readonly.txt", b"u", external=0o100444 << 16, made_by=0x0314),
                 Entry("unix_writable.txt", b"w", external=0o100644 << 16, made_by=0x0314),
                 Entry("zero_length.txt", method=0)]))


if __name__ == "__main__":
    tool_archives()
    hostile_archives()
    valid_archives()
