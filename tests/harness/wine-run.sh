#!/bin/sh
# Runs one Windows program under the test run's Wine session (wine-session.sh).
#   wine-run.sh STATE_DIR program.exe [args...]
set -eu
state=$1
shift
if [ ! -f "$state/env" ]; then
    echo "wine session not started in $state" >&2
    exit 1
fi
. "$state/env"
exec "$KELVO_WINE" "$@"
