#!/usr/bin/env bash
# Installs what is missing, builds, and starts the utility on the data
# directory registered for the current user.
#
# When no data directory is registered, a sample database of an earlier
# structure is written to ${XDG_DATA_HOME:-~/.local/share}/hearthbook/sample-data
# and registered, so that the update has something to do. A registered
# directory is never changed. Without a display the same update runs in the
# terminal through `strata update`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)"

bin="$PWD/build/bin"
strata="$bin/strata"

set +e
data_dir=$("$strata" data-path)
status=$?
set -e
case $status in
  0) echo "Data directory: $data_dir" ;;
  1)
    data_dir="${XDG_DATA_HOME:-$HOME/.local/share}/hearthbook/sample-data"
    if [ ! -e "$data_dir/accents.dat" ]; then
      "$strata" sample-db "$data_dir"
    fi
    "$strata" data-path --set "$data_dir"
    echo "No data directory was registered: registered the sample database of an"
    echo "earlier structure in $data_dir."
    ;;
  *) exit "$status" ;;
esac

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running the same update"
  echo "in the terminal with 'strata update'."
  exec "$strata" update "$data_dir"
fi
exec "$bin/database-update"
