#!/bin/sh
# Starts Kestrune Update Utility from its program folder, <prefix>/lib/kestrune-update-utility,
# where it keeps its firmware images. The folder is found from where this launcher really is,
# so an installation can be moved or reached through a symbolic link.
here=$(dirname "$(readlink -f "$0")")
exec "$here/../lib/kestrune-update-utility/kestrune-update-utility" "$@"
