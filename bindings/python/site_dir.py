#!/usr/bin/env python3
"""Prints where a Python package belongs under an install prefix, relative to
the prefix, for the interpreter that runs this script.

usage: site_dir.py PREFIX

- The interpreter's own prefix (Debian's /usr): its scheme for that prefix,
  lib/python3/dist-packages on Debian.
- Debian's /usr/local: lib/pythonX.Y/dist-packages, which Debian's interpreter
  searches.
- The user's base (~/.local): the user site directory.
- Any other prefix (a staging directory, a package's tree): the same layout as
  for the interpreter's own prefix, so such a tree, unpacked at / or added to
  PYTHONPATH by that directory, matches what the system packages hold.
"""
import os
import site
import sys
import sysconfig


def site_dir(prefix):
    prefix = os.path.normpath(os.path.abspath(prefix))
    base = os.path.normpath(sys.base_prefix)
    schemes = sysconfig.get_scheme_names()
    if prefix == os.path.join(base, "local") and "posix_local" in schemes:
        path = sysconfig.get_path("platlib", "posix_local")
    elif prefix == os.path.normpath(site.getuserbase()) and "posix_user" in schemes:
        path = sysconfig.get_path("platlib", "posix_user")
    else:
        scheme = "deb_system" if "deb_system" in schemes else "posix_prefix"
        path = sysconfig.get_path("platlib", scheme, vars={"base": prefix, "platbase": prefix})
    return os.path.relpath(path, prefix)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: site_dir.py PREFIX")
    print(site_dir(sys.argv[1]))
