# Sourced: gives the caller a Wine prefix of its own for this run, a copy of the bench's
# cached prefix (made first if there is none), removed when the caller exits.
# Afterwards PORTARA_WINEPREFIX names it, so every scripts/winebench.sh call uses it.
scratch_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
scratch_dir=$(mktemp -d)
trap 'rm -rf "$scratch_dir"' EXIT
scratch_cache=${XDG_CACHE_HOME:-$HOME/.cache}/portara/wineprefix
if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/.portara-ready" ]; then
    scratch_cache=$WINEPREFIX
elif [ ! -f "$scratch_cache/.portara-ready" ]; then
    env -u PORTARA_WINEPREFIX "$scratch_root/scripts/winebench.sh" true || exit 1
fi
cp -a "$scratch_cache" "$scratch_dir/prefix"
export PORTARA_WINEPREFIX=$scratch_dir/prefix
