#!/bin/sh
# Starts kestrune-update from the program folder, <prefix>/lib/kestrune-update-utility, where
# the firmware images are. The folder is found from where this launcher really is, so an
# installation can be moved or reached through a symbolic link.
here=$(dirname "$(readlink -f "$0")")
exec "$here/../lib/kestrune-update-utility/kestrune-update" "$@"
