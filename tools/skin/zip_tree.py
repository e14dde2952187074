#!/usr/bin/env python3
"""Zips a folder so that the same files always give the same bytes.

Entries are sorted, every time stamp is one fixed date, and no extra fields (which would carry
the files' access and change times) are written; the contents are deflated.
Usage: zip_tree.py ARCHIVE FOLDER NAME  (entries are stored under NAME/)
"""
import os
import sys
import zipfile

FIXED_TIME = (2024, 1, 1, 0, 0, 0)


def main():
    archive, folder, name = sys.argv[1:4]
    paths = []
    for directory, subdirectories, files in os.walk(folder):
        subdirectories.sort()
        relative = os.path.relpath(directory, folder)
        prefix = name if relative == "." else f"{name}/{relative.replace(os.sep, '/')}"
        paths.append((prefix + "/", None))
        paths.extend((f"{prefix}/{file}", os.path.join(directory, file)) for file in sorted(files))
    with zipfile.ZipFile(archive, "w") as out:
        for entry, source in sorted(paths):
            info = zipfile.ZipInfo(entry, FIXED_TIME)
            info.create_system = 3
            if source is None:
                info.external_attr = (0o40755 << 16) | 0x10
                out.writestr(info, b"")
            else:
                info.external_attr = 0o100644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(source, "rb") as data:
                    out.writestr(info, data.read(), compresslevel=9)
    return 0


if __name__ == "__main__":
    sys.exit(main())
