#!/usr/bin/env bash
# Plants, from outside Wine, a Unix symbolic link where a protected folder is made, pointing at
# a folder of files that must survive whatever the folder's preparation does.
# Usage: plant_link.sh BUILD_DIR FOLDER_NAME TARGET_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/../../harness" && pwd)
build=$(cd "${1:?build folder}" && pwd)
name=${2:?folder name}
target=${3:?target folder}
# shellcheck disable=SC1090
. "$here/wine_env.sh" "$build"
data="$WINEPREFIX/drive_c/ProgramData"
[ -d "$data" ] || { echo "no Wine prefix at $WINEPREFIX" >&2; exit 1; }
rm -rf "$target"
mkdir -p "$target/sub"
echo precious >"$target/precious.txt"
echo deep >"$target/sub/deep.txt"
rm -rf "$data/$name" "$data/$name".old-*
ln -s "$target" "$data/$name"
