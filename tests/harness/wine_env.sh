# Sourced with a build folder: selects the Wine that runs that build's programs and its prefix.
# Sets WINE (the loader to exec), WINEPREFIX, WINEARCH and WINEDEBUG.
_build_dir=${1:?build folder}
_arch=$(cat "$_build_dir/wine-arch" 2>/dev/null || echo win32)
export WINEARCH=$_arch
export WINEPREFIX="$_build_dir/wineprefix"
export WINEDEBUG=-all
if [ "$_arch" = win64 ]; then
  WINE=/usr/lib/wine/wine64
  export WINELOADER=$WINE
else
  WINE=/usr/lib/wine/wine
fi
unset _build_dir _arch
