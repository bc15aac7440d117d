#!/usr/bin/env bash
# Sets everything up, builds the bundle and starts the application against the
# stand-in core, whose trace of every call goes to standard error. The bundle
# is started through its launcher, as a user's launch would start it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh plain >/dev/null
export NIMBREL_STANDIN_TRACE=1
exec "build/Brovik Dira.app/Contents/MacOS/launcher" "$@"
