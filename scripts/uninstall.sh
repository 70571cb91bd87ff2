#!/bin/bash
# make uninstall: removes exactly what install.sh put under PREFIX, the
# files first, then the folders it made (newest first), if they are empty.
#   usage: uninstall.sh PREFIX
set -u
manifest="$1/lib/quorvel/installed"
[ -f "$manifest" ] || { echo "make uninstall: nothing of quorvel is installed under $1" >&2; exit 2; }
mapfile -t made < "$manifest"
for entry in "${made[@]}"; do [ "${entry%% *}" = file ] && rm -f "${entry#file }"; done
for ((i = ${#made[@]} - 1; i >= 0; i--)); do
    entry="${made[i]}"
    [ "${entry%% *}" = folder ] && rmdir "${entry#folder }" 2>/dev/null
done
echo "Removed what was installed under $1."
