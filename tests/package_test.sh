#!/usr/bin/env bash
# Makes the two Debian packages from a built tree, has lintian check them,
# unpacks both into a scratch root and there builds the native plugin
# example of docs/native-plugins.md exactly as written, through pkg-config,
# for the packaged dawnstep to load.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
program=$(echo "$work"/debs/dawnstep_*.deb) dev=$(echo "$work"/debs/dawnstep-plugin-dev_*.deb)
[[ -f $program && -f $dev ]] || fail "packages made: $(ls "$work/debs")"

(($(stat -c %s "$program") < 1500000)) || fail "dawnstep package of $(stat -c %s "$program") bytes"
version=$(dpkg-deb -f "$program" Version)
dpkg-deb -f "$program" Depends | grep -qE '(^|, )libc6 \(>= [0-9.]+\)' ||
    fail "unversioned Depends: $(dpkg-deb -f "$program" Depends)"
[[ $(dpkg-deb -f "$dev" Depends) == "dawnstep (= $version)" ]] || fail "dev package Depends"
[[ $(dpkg-deb -f "$program" Suggests) == prometheus-node-exporter ]] || fail "Suggests"

lintian --fail-on error,warning "$program" "$dev" >&2 || fail "lintian"

# Each package holds exactly its own files.
listing() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\./, "", $NF); print $NF }' | sort; }
diff -u - <(listing "$program") <<'EOF' || fail "dawnstep package contents"
/usr/bin/dawnstep-analyze
/usr/sbin/dawnstep
/usr/share/bash-completion/completions/dawnstep
/usr/share/bash-completion/completions/dawnstep-analyze
/usr/share/doc/dawnstep/changelog.gz
/usr/share/doc/dawnstep/commands.md
/usr/share/doc/dawnstep/copyright
/usr/share/doc/dawnstep/fleet.md
/usr/share/doc/dawnstep/plugin-guide.md
/usr/share/lintian/overrides/dawnstep
/usr/share/man/man8/dawnstep-analyze.8.gz
/usr/share/man/man8/dawnstep.8.gz
EOF
diff -u - <(listing "$dev") <<'EOF' || fail "dawnstep-plugin-dev package contents"
/usr/include/dawnstep/native_plugin.h
/usr/share/doc/dawnstep-plugin-dev/changelog.gz
/usr/share/doc/dawnstep-plugin-dev/copyright
/usr/share/doc/dawnstep-plugin-dev/examples/hello.c
/usr/share/doc/dawnstep-plugin-dev/native-plugins.md
/usr/share/pkgconfig/dawnstep-plugin.pc
EOF
for dir in plugins plugins2; do
    [[ $(dpkg-deb -c "$program") == *" ./usr/libexec/dawnstep/$dir/"$'\n'* ]] || fail "no $dir/"
done

sys=$work/sys
dpkg-deb -x "$program" "$sys"
dpkg-deb -x "$dev" "$sys"
export PKG_CONFIG_PATH=$sys/usr/share/pkgconfig PKG_CONFIG_SYSROOT_DIR=$sys
[[ $(pkg-config --variable=plugindir dawnstep-plugin) == */usr/libexec/dawnstep/plugins ]] ||
    fail "plugindir"

# The guide's example is the shipped one, built with the guide's command.
mkdir "$work/plugin"
cd "$work/plugin"
sed -n '/^## Example/,$p' "$source/docs/native-plugins.md" | sed -n '/^```c$/,/^```$/p' |
    sed '1d;$d' >hello.c
cmp -s hello.c "$sys/usr/share/doc/dawnstep-plugin-dev/examples/hello.c" ||
    fail "the example in docs/native-plugins.md is not examples/native/hello.c"
build_command=$(sed -n '/^## Example/,$p' "$source/docs/native-plugins.md" |
    sed -n '/^```sh$/,/^```$/p' | sed '1d' | sed -n '1,/[^\\]$/p')
[[ $build_command == cc* ]] || fail "no build command in docs/native-plugins.md: $build_command"
bash -euc "$build_command" 2>"$work/cc.err" || { cat "$work/cc.err" >&2; fail "building hello.c"; }
[[ ! -s $work/cc.err ]] || { cat "$work/cc.err" >&2; fail "warnings building hello.c"; }

mkdir -p "$work/root/var/log"
DAWNSTEP_ROOT=$work/root "$sys/usr/sbin/dawnstep" --dry --plugin "$PWD/libhello.so" \
    >"$work/dry.out" 2>&1 || true
grep -q 'hello: start' "$work/dry.out" || { cat "$work/dry.out" >&2; fail "dry run"; }
echo "packages, lintian, example plugin: done"
