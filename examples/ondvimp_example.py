#!/usr/bin/env python3
"""One import of a federation export through libondvimp.so, from Python.

    python3 examples/ondvimp_example.py LIBRARY DB SOURCE SCRATCH TRACE

LIBRARY is the path of libondvimp.so; the other four arguments are those of
`ondival import`. Step titles are printed as the import shows them, then the
result and, when an error stopped the import, its number and text. The exit
status is that of `ondival import`: 0 when the import returned true, 1 when
it returned false, 2 when an error reached the host.
"""
import ctypes
import sys

STEP_TITLE = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)
GET_VALUE = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_void_p)
SET_VALUE = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_double)
REPAINT = ctypes.CFUNCTYPE(None, ctypes.c_void_p)


class Progress(ctypes.Structure):
    """struct ondvimp_progress of include/ondvimp.h."""
    _fields_ = [
        ("user", ctypes.c_void_p),
        ("step_title", STEP_TITLE),
        ("get_value", GET_VALUE),
        ("set_value", SET_VALUE),
        ("repaint", REPAINT),
    ]


def load(path):
    lib = ctypes.CDLL(path)
    lib.ondvimp_version.restype = ctypes.c_char_p
    lib.ondvimp_abi_version.restype = ctypes.c_int
    lib.ondvimp_create.restype = ctypes.c_void_p
    lib.ondvimp_release.argtypes = [ctypes.c_void_p]
    lib.ondvimp_import.argtypes = [ctypes.c_void_p] + [ctypes.c_char_p] * 4 + [ctypes.POINTER(Progress)]
    lib.ondvimp_import.restype = ctypes.c_int
    lib.ondvimp_last_error_number.argtypes = [ctypes.c_void_p]
    lib.ondvimp_last_error_number.restype = ctypes.c_int
    lib.ondvimp_last_error_text.argtypes = [ctypes.c_void_p]
    lib.ondvimp_last_error_text.restype = ctypes.c_char_p
    return lib


def main(argv):
    if len(argv) != 6:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    library, db, source, scratch, trace = argv[1:]
    lib = load(library)
    if lib.ondvimp_abi_version() < 1:  # later versions only add functions
        print(f"unexpected interface version {lib.ondvimp_abi_version()}", file=sys.stderr)
        return 2

    moves, bar = 0, 0.0

    def step_title(_user, title):
        print(f"step: {title.decode('utf-8')}", flush=True)

    def set_value(_user, value):
        nonlocal moves, bar
        moves += 1
        bar = value

    # Members left NULL are skipped by the library: without get_value it
    # reads back the last value set, and this host repaints nothing.
    progress = Progress(None, STEP_TITLE(step_title), GET_VALUE(), SET_VALUE(set_value), REPAINT())

    importer = lib.ondvimp_create()
    if not importer:
        print("out of memory", file=sys.stderr)
        return 2
    try:
        result = lib.ondvimp_import(importer, db.encode(), source.encode(), scratch.encode(), trace.encode(),
                                    ctypes.byref(progress))
        print(f"libondvimp {lib.ondvimp_version().decode()}: import returned {result} "
              f"after {moves} bar moves, bar at {bar:.0f}%")
        if result == -1:
            print(f"error {lib.ondvimp_last_error_number(importer)}: "
                  f"{lib.ondvimp_last_error_text(importer).decode('utf-8')}", file=sys.stderr)
    finally:
        lib.ondvimp_release(importer)
    return {1: 0, 0: 1}.get(result, 2)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
