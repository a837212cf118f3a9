"""Reads a Windows shortcut (.lnk, the Shell Link binary format): its target, working folder,
arguments and icon, as a program that opens it would see them."""

import struct
from dataclasses import dataclass

HEADER_SIZE = 0x4C
HAS_ID_LIST = 0x01
HAS_LINK_INFO = 0x02
HAS_NAME = 0x04
HAS_RELATIVE_PATH = 0x08
HAS_WORKING_DIR = 0x10
HAS_ARGUMENTS = 0x20
HAS_ICON_LOCATION = 0x40
IS_UNICODE = 0x80
VOLUME_ID_AND_LOCAL_BASE_PATH = 0x01


@dataclass
class ShellLink:
    target: str
    working_dir: str
    arguments: str
    icon_location: str


def read_shell_link(data):
    """The shortcut in `data` (bytes); ValueError for anything that is not one this can read."""
    if len(data) < HEADER_SIZE or struct.unpack_from("<I", data, 0)[0] != HEADER_SIZE:
        raise ValueError("not a shell link: wrong header size")
    flags = struct.unpack_from("<I", data, 20)[0]
    at = HEADER_SIZE
    if flags & HAS_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = ""
    if flags & HAS_LINK_INFO:
        info_size, _, info_flags, _, base_path_at = struct.unpack_from("<5I", data, at)
        if info_flags & VOLUME_ID_AND_LOCAL_BASE_PATH:
            end = data.index(b"\0", at + base_path_at)
            target = data[at + base_path_at:end].decode("latin-1")
        at += info_size
    if not target:
        raise ValueError("the shell link names no local target")

    strings = {}
    for flag in (HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR, HAS_ARGUMENTS, HAS_ICON_LOCATION):
        if not flags & flag:
            continue
        count = struct.unpack_from("<H", data, at)[0]
        at += 2
        size = count * 2 if flags & IS_UNICODE else count
        if at + size > len(data):
            raise ValueError("the shell link's strings run past its end")
        raw = data[at:at + size]
        text = raw.decode("utf-16-le") if flags & IS_UNICODE else raw.decode("latin-1")
        # The format counts no terminating NUL, but wine writes and counts one.
        strings[flag] = text.rstrip("\0")
        at += size
    return ShellLink(target=target, working_dir=strings.get(HAS_WORKING_DIR, ""),
                     arguments=strings.get(HAS_ARGUMENTS, ""), icon_location=strings.get(HAS_ICON_LOCATION, ""))
