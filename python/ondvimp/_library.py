"""Finding and loading libondvimp, and the C declarations of include/ondvimp.h."""
import ctypes
import os
import threading

# The shared library of the interface this module speaks; a later release
# that keeps these functions keeps this name.
SONAME = "libondvimp.so.1"
ENVIRONMENT = "ONDVIMP_LIBRARY"
# ondvimp_check and ondvimp_last_report (2); ondvimp_cancel, ondvimp_last_report_html and ondvimp_last_error_kind (3)
ABI_VERSION = 3

STEP_TITLE = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)
GET_VALUE = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_void_p)
SET_VALUE = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_double)
REPAINT = ctypes.CFUNCTYPE(None, ctypes.c_void_p)


class ProgressTable(ctypes.Structure):
    """struct ondvimp_progress."""

    _fields_ = [
        ("user", ctypes.c_void_p),
        ("step_title", STEP_TITLE),
        ("get_value", GET_VALUE),
        ("set_value", SET_VALUE),
        ("repaint", REPAINT),
    ]


# name: (result type, argument types). A new function of the interface is
# one more line here.
_PROTOTYPES = {
    "ondvimp_version": (ctypes.c_char_p, []),
    "ondvimp_abi_version": (ctypes.c_int, []),
    "ondvimp_create": (ctypes.c_void_p, []),
    "ondvimp_release": (None, [ctypes.c_void_p]),
    "ondvimp_import": (ctypes.c_int, [ctypes.c_void_p] + [ctypes.c_char_p] * 4 + [ctypes.POINTER(ProgressTable)]),
    "ondvimp_last_error_number": (ctypes.c_int, [ctypes.c_void_p]),
    "ondvimp_last_error_text": (ctypes.c_char_p, [ctypes.c_void_p]),
    "ondvimp_check": (ctypes.c_int, [ctypes.c_void_p] + [ctypes.c_char_p] * 4 + [ctypes.POINTER(ProgressTable)]),
    "ondvimp_last_report": (ctypes.c_char_p, [ctypes.c_void_p]),
    "ondvimp_cancel": (ctypes.c_int, [ctypes.c_void_p]),
    "ondvimp_last_report_html": (ctypes.c_char_p, [ctypes.c_void_p]),
    "ondvimp_last_error_kind": (ctypes.c_int, [ctypes.c_void_p]),
}

_loaded = None
_loading = threading.Lock()


def _candidates():
    """Where to look, in order: the library named by ONDVIMP_LIBRARY alone
    when it is set; else the one installed with this module (its place is
    written beside the module at install time, relative, so that a moved
    prefix still works); else the dynamic loader's search."""
    named = os.environ.get(ENVIRONMENT)
    if named:
        return [(named, f"named by {ENVIRONMENT}")]
    found = []
    try:
        from . import _install_location
    except ImportError:
        pass  # a source tree: nothing installed beside the module
    else:
        path = os.path.normpath(os.path.join(os.path.dirname(__file__), _install_location.LIBRARY))
        if os.path.exists(path):
            found.append((path, "installed with the module"))
    found.append((SONAME, "found by the dynamic loader"))
    return found


def _open():
    problems = []
    for path, how in _candidates():
        try:
            lib = ctypes.CDLL(path)
        except OSError as e:
            problems.append(f"{path} ({how}): {e}")
            continue
        for name, (restype, argtypes) in _PROTOTYPES.items():
            function = getattr(lib, name)
            function.restype = restype
            function.argtypes = argtypes
        if lib.ondvimp_abi_version() < ABI_VERSION:
            raise OSError(f"{path} speaks interface {lib.ondvimp_abi_version()}, this module needs {ABI_VERSION}")
        return lib
    raise OSError("cannot load libondvimp: " + "; ".join(problems) +
                  f". Install ondival (its Debian package, or cmake --install) or name the library in {ENVIRONMENT}.")


def load():
    """The library, loaded on first use and kept for the life of the process."""
    global _loaded
    with _loading:
        if _loaded is None:
            _loaded = _open()
        return _loaded


class _DlInfo(ctypes.Structure):
    _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", ctypes.c_void_p),
                ("dli_sname", ctypes.c_char_p), ("dli_saddr", ctypes.c_void_p)]


def path():
    """The file the loader actually opened, as it named it."""
    lib = load()
    libc = ctypes.CDLL(None)
    libc.dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(_DlInfo)]
    info = _DlInfo()
    if not libc.dladdr(ctypes.cast(lib.ondvimp_version, ctypes.c_void_p), ctypes.byref(info)):
        return lib._name
    return os.fsdecode(info.dli_fname)
