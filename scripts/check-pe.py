#!/usr/bin/env python3
"""Build check: each product executable is a PE GUI executable of the given
machine (i386, the product, by default; amd64 for the 64-bit test build of
the same sources) whose imports come only from the system DLLs the product
may use.   usage: check-pe.py [--machine i386|amd64] EXE..."""
import struct
import sys

ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}
# machine: (machine field, optional header magic, offset of the data directories)
MACHINES = {
    "i386": (0x14C, 0x10B, 96),    # PE32
    "amd64": (0x8664, 0x20B, 112),  # PE32+
}
SUBSYSTEM_WINDOWS_GUI = 2


def read_c_string(data, offset):
    end = data.index(b"\0", offset)
    return data[offset:end].decode("ascii")


def check(path, machine_name):
    """Returns a list of problems; empty when the file passes."""
    expected_machine, expected_magic, directories = MACHINES[machine_name]
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
    if machine != expected_machine:
        problems.append("machine 0x%x, not %s" % (machine, machine_name))
    if magic != expected_magic:
        return problems + ["optional header magic 0x%x, not 0x%x" % (magic, expected_magic)]
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

    import_rva = struct.unpack_from("<I", data, optional + directories + 8)[0]
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


def main(arguments):
    machine_name = "i386"
    if arguments[:1] == ["--machine"] and len(arguments) >= 2:
        machine_name, arguments = arguments[1], arguments[2:]
    if machine_name not in MACHINES or not arguments:
        print(__doc__)
        return 2
    failed = False
    for path in arguments:
        problems = check(path, machine_name)
        if problems:
            failed = True
            print("FAIL %s: %s" % (path, "; ".join(problems)))
        else:
            print("ok   %s (%s)" % (path, machine_name))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
