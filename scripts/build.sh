#!/usr/bin/env bash
# Configures and builds one variant: scripts/build.sh [plain|address|thread]
set -euo pipefail
cd "$(dirname "$0")/.."

variant=${1:-plain}
case "$variant" in
  plain) dir=build sanitize="" ;;
  address) dir=build-asan sanitize=address ;;
  thread) dir=build-tsan sanitize=thread ;;
  *) echo "unknown variant: $variant" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBK_SANITIZE="$sanitize" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" >&2
echo "$dir"
