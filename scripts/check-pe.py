#!/usr/bin/env python3
"""Build check: each product executable is a 32-bit (i386) PE GUI executable
whose imports come only from the system DLLs the product may use."""
import struct
import sys

ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}
MACHINE_I386 = 0x14C
PE32_MAGIC = 0x10B
SUBSYSTEM_WINDOWS_GUI = 2


def read_c_string(data, offset):
    end = data.index(b"\0", offset)
    return data[offset:end].decode("ascii")


def check(path):
    """Returns a list of problems; empty when the file passes."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        return ["not an MZ executable"]
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return ["no PE signature"]
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    problems = []
    if machine != MACHINE_I386:
        problems.append("machine 0x%x, not i386" % machine)
    if magic != PE32_MAGIC:
        return problems + ["optional header magic 0x%x, not PE32" % magic]
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    if subsystem != SUBSYSTEM_WINDOWS_GUI:
        problems.append("subsystem %d, not GUI" % subsystem)

    table = optional + optional_size
    section_list = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]

    def file_offset(rva):
        for _, vsize, vaddr, rawsize, rawptr in section_list:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rva - vaddr + rawptr
        raise ValueError("RVA 0x%x outside every section" % rva)

    import_rva = struct.unpack_from("<I", data, optional + 96 + 8)[0]
    dlls = []
    if import_rva:
        entry = file_offset(import_rva)
        while True:
            name_rva = struct.unpack_from("<I", data, entry + 12)[0]
            if name_rva == 0:
                break
            dlls.append(read_c_string(data, file_offset(name_rva)))
            entry += 20
    for dll in dlls:
        if dll.upper() not in ALLOWED_DLLS:
            problems.append("imports from %s" % dll)
    return problems


def main(paths):
    failed = False
    for path in paths:
        problems = check(path)
        if problems:
            failed = True
            print("FAIL %s: %s" % (path, "; ".join(problems)))
        else:
            print("ok   %s" % path)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
