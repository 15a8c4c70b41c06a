"""Prints where this Python looks for packages under an install prefix (the first argument),
relative to that prefix: the first of its site folders, its user folder included (whether or
not that exists yet), that lies there. When it looks in none, prints lib/pythonX.Y/site-packages
(where a virtual environment made with that prefix would look) and a second line, "elsewhere".
"""

import os
import site
import sys

prefix = os.path.realpath(sys.argv[1])
libdir = getattr(sys, "platlibdir", "lib")
folders = [*site.getsitepackages(), site.getusersitepackages(), *sys.path]
for folder in folders:
    if os.path.basename(folder) not in ("site-packages", "dist-packages"):
        continue
    relative = os.path.relpath(os.path.realpath(folder), prefix)
    if relative.split(os.sep)[0] == libdir:
        print(relative)
        break
else:
    print(os.path.join(libdir, "python%d.%d" % sys.version_info[:2], "site-packages"))
    print("elsewhere")
