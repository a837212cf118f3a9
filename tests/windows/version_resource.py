"""Reads what Explorer's Properties show of a program: its version resource (the fixed version and
the strings) and the sizes in its icon group, from resources that wrestool (icoutils) extracts."""

import struct
import subprocess

FIXED_INFO_SIGNATURE = 0xFEEF04BD


def extract_resource(exe, resource_type):
    """The raw bytes of the first resource of `resource_type` (14 icon group, 16 version) in `exe`."""
    result = subprocess.run(["wrestool", "--extract", "--raw", f"--type={resource_type}", exe],
                            capture_output=True, check=True, timeout=30)
    return result.stdout


def _align4(offset):
    return (offset + 3) & ~3


def _read_node(data, at):
    """One node of the version tree: (key, value bytes, value type, children, end offset)."""
    length, value_length, value_type = struct.unpack_from("<3H", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = _align4(key_end + 2)
    # Text values count characters, binary ones bytes.
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[value_at:value_at + value_size]
    children = []
    child_at = _align4(value_at + value_size)
    while child_at < end:
        child = _read_node(data, child_at)
        children.append(child)
        child_at = _align4(child[4])
    return key, value, value_type, children, end


def read_version(data):
    """(file version as four numbers, {string name: text}) from a raw VS_VERSIONINFO resource."""
    key, fixed, _, children, _ = _read_node(data, 0)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"not a version resource: {key!r}")
    signature, _, version_ms, version_ls = struct.unpack_from("<4I", fixed, 0)
    if signature != FIXED_INFO_SIGNATURE:
        raise ValueError("the version resource has no fixed file information")
    file_version = (version_ms >> 16, version_ms & 0xFFFF, version_ls >> 16, version_ls & 0xFFFF)
    strings = {}
    for child_key, _, _, tables, _ in children:
        if child_key != "StringFileInfo":
            continue
        for _, _, _, entries, _ in tables:
            for name, value, _, _, _ in entries:
                strings[name] = value.decode("utf-16-le").rstrip("\0")
    return file_version, strings


def read_icon_sizes(data):
    """The pixel sizes in a raw icon group resource (GRPICONDIR), 256 written as 0 there."""
    reserved, kind, count = struct.unpack_from("<3H", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon group")
    sizes = []
    for index in range(count):
        width = data[6 + 14 * index]
        sizes.append(width or 256)
    return sizes
