#!/usr/bin/env bash
# Builds the Debian package: build-deb/dielmon_<version>_amd64.deb (and its debug symbols,
# dielmon-dbgsym_<version>_amd64.deb), with dpkg-buildpackage from the debian/ folder.
# dpkg-buildpackage writes beside the source tree, so the tree is copied into build-deb/ first;
# the copy keeps its build folder between runs, which makes the next package build
# incremental. The test suite runs in scripts/test.sh; set DEB_BUILD_OPTIONS= to run it here
# as well, in the package's own build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
out=${DEB_BUILD_DIR:-build-deb}
version=$(dpkg-parsechangelog -S Version)
source="$out/dielmon-$version"
mkdir -p "$source"

# The tree as it is now, new files included, without the build folders. Unchanged files keep
# their times, so make rebuilds only what changed.
find "$source" -mindepth 1 -maxdepth 1 ! -name 'obj-*' -exec rm -rf {} +
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do
            [ -e "$file" ] && printf '%s\0' "$file"
        done | tar --null -T - -cf - | tar -xf - -C "$source"
else
    tar --exclude='./build*' --exclude='./out' --exclude='./fuzz/artifacts' -cf - . |
        tar -xf - -C "$source"
fi

# The compiler flags come from dpkg-buildflags and debian/rules at configure time; a cache
# from an earlier run would keep the old ones. Objects whose flags are unchanged are kept.
rm -f "$source"/obj-*/CMakeCache.txt

# debhelper gives the build a home of its own, so ccache is told where its cache is.
if command -v ccache >/dev/null; then
    export CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
    export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
    export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
fi
export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS-nocheck parallel=$(nproc)}
profiles=()
case " $DEB_BUILD_OPTIONS " in
*" nocheck "*) profiles=(-Pnocheck) ;;
esac
log="$out/dpkg-buildpackage.log"
if ! (cd "$source" && dpkg-buildpackage --build=binary --no-pre-clean --no-sign \
    "${profiles[@]}") >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "dpkg-buildpackage failed; the whole output is in $log" >&2
    exit 1
fi
echo "$out/dielmon_${version}_amd64.deb"
