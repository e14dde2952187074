#!/bin/sh
# Wine's browser for test and demo prefixes: records each URL the programs open (one per line,
# in opened-urls.txt of the build folder named by the first argument) and fetches it, so a
# local server sees the request as a browser's.
build_dir=$1
shift
for url in "$@"; do
  printf '%s\n' "$url" >>"$build_dir/opened-urls.txt"
  case "$url" in
    http://127.0.0.1:* | http://localhost:*) curl -s -o /dev/null --max-time 5 "$url" & ;;
  esac
done
exit 0
