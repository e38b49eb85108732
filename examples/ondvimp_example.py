#!/usr/bin/env python3
"""One import of a federation export from Python, through the ondvimp module.

    python3 examples/ondvimp_example.py DB SOURCE SCRATCH TRACE

The four arguments are those of `ondival import`. The module finds the
installed libondvimp, or the one named by ONDVIMP_LIBRARY (from a source
tree: PYTHONPATH=python ONDVIMP_LIBRARY=build/libondvimp.so). Step titles are
printed as the import shows them, then the result and, when an error stopped
the import, its number and text. The exit status is that of `ondival
import`: 0 when the import was true, 1 when it was false, 2 on an error.
"""
import sys

import ondvimp


def main(argv):
    if len(argv) != 5:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    db, source, scratch, trace = argv[1:]
    shown_step, calls, bar = None, 0, 0.0

    def progress(step, percent):
        nonlocal shown_step, calls, bar
        if step != shown_step:
            print(f"step: {step}", flush=True)
            shown_step = step
        calls += 1
        bar = percent

    with ondvimp.Importer() as importer:
        try:
            result = importer.import_export(db, source, scratch, trace, progress)
        except ondvimp.Error as error:
            print(f"libondvimp {ondvimp.version()}: import returned -1")
            print(f"error {error.number}: {error.text}", file=sys.stderr)
            return 2
    print(f"libondvimp {ondvimp.version()}: import returned {int(result.ok)} "
          f"after {calls} bar moves, bar at {bar:.0f}%")
    return 0 if result else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
