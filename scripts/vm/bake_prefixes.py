"""Run in the test machine while its image is made: the Wine prefixes its tests use, made side by
side (one a virtual CPU)."""

import sys
import threading

sys.path.insert(0, "tests/system")
import conftest  # noqa: E402

# The emulated machine runs the 32-bit setup: in both prefixes, and as the unprivileged user in
# the 32-bit one. A prefix a test needs beyond these is made when first used.
PREFIXES = [("win32", None), ("win64", None), ("win32", conftest.TEST_USER)]


def make(arch, user, failures):
    try:
        conftest.Prefix(arch, user).stop()
    except Exception as error:  # noqa: BLE001 (reported below, with the prefix)
        failures.append(f"{arch} {user or 'root'}: {error}")


def main():
    failures = []
    threads = [threading.Thread(target=make, args=(arch, user, failures))
               for arch, user in PREFIXES]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if failures:
        print("prefixes not made: " + "; ".join(failures))
        return 1
    print("prefixes ready")
    return 0


if __name__ == "__main__":
    sys.exit(main())
