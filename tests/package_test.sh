#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks what it holds, then
# installs the tree under a DESTDIR, builds a native plugin against that
# copy's header through pkg-config, from the example of the plugin guide, and
# has the installed analyzer check it together with a JSON plugin.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" \
        >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack"
fi
debs=("$work"/package/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}

[[ $(dpkg-deb -f "$deb" Package) == dawnstep ]] || fail "package name"
dpkg-deb -f "$deb" Depends | grep -q libstdc++6 || fail "dependencies"

dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's,^\./,/,; s,/$,,' >"$work/contents"
expected=(
    /usr/sbin/dawnstep
    /usr/bin/dawnstep-analyze
    /usr/share/man/man8/dawnstep.8
    /usr/share/man/man8/dawnstep-analyze.8
    /usr/share/doc/dawnstep/plugin-guide.md
    /usr/share/pkgconfig/dawnstep-plugin.pc
    /usr/share/bash-completion/completions/dawnstep
    /usr/share/bash-completion/completions/dawnstep-analyze
    /usr/libexec/dawnstep/plugins
    /usr/libexec/dawnstep/plugins2
    /usr/include/dawnstep/native_plugin.h
)
for path in "${expected[@]}"; do
    grep -qxF "$path" "$work/contents" || fail "$path is not in the package"
done
# Nothing of the build or the tests leaks into it.
if grep -E 'test|/build/|\.a$' "$work/contents"; then
    fail "unexpected files in the package"
fi
dpkg-deb -x "$deb" "$work/unpacked"
[[ -x $work/unpacked/usr/sbin/dawnstep && -x $work/unpacked/usr/bin/dawnstep-analyze ]] ||
    fail "programs are not executable"
[[ -z $(ls -A "$work/unpacked/usr/libexec/dawnstep/plugins") ]] || fail "plugin directory not empty"

stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" || fail "DESTDIR install"
export PKG_CONFIG_PATH=$stage/usr/share/pkgconfig PKG_CONFIG_SYSROOT_DIR=$stage
export PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1
[[ $(pkg-config --variable=plugindir dawnstep-plugin) == */usr/libexec/dawnstep/plugins ]] ||
    fail "plugindir"
cflags=$(pkg-config --cflags dawnstep-plugin)
cflags=${cflags% }
[[ $cflags == "-I$stage/usr/include" ]] || fail "cflags '$cflags'"

# The guide's C example, built as a plugin author would.
sed -n '/^```c$/,/^```$/p' "$source/docs/plugin-guide.md" | sed '1d;$d' >"$work/ntp.c"
[[ -s $work/ntp.c ]] || fail "no C example in the plugin guide"
# shellcheck disable=SC2086
cc -std=c11 -Wall -Wextra -Werror -shared -fPIC $cflags -o "$work/libntp.so" "$work/ntp.c" ||
    fail "building the example plugin"
symbols=$(nm -D --defined-only "$work/libntp.so")
for symbol in metadata operations; do
    grep -qE " [DR] $symbol\$" <<<"$symbols" || fail "libntp.so does not export $symbol"
done

# The installed analyzer on a plugin set with known faults; the root holds
# one command descriptor, whose handler must not run.
root=$work/root set=$work/set
mkdir -p "$root/usr/lib/corvane/orvocli/bin" "$set"
cat >"$root/usr/lib/corvane/orvocli/time.json" <<'EOF'
{"namespace": "system time", "commands": [{"name": "set", "handler": "bin/time-set", "parameters": [{"name": "source"}]}]}
EOF
printf '#!/bin/sh\ntouch "$DAWNSTEP_ROOT/handler-ran"\n' >"$root/usr/lib/corvane/orvocli/bin/time-set"
chmod +x "$root/usr/lib/corvane/orvocli/bin/time-set"
cat >"$set/clock.json" <<'EOF'
{"metadata": {"provides": ["clock"], "requires": ["ntp", "gps"], "version": 5, "run_once": false},
 "operations": {"start": ["system time set --source ntp", "system clock set", "system time set '"]}}
EOF
cp "$work/libntp.so" "$set/"
status=0
DAWNSTEP_ROOT=$root "$stage/usr/bin/dawnstep-analyze" verify "$set/libntp.so" "$set/clock.json" \
    >"$work/verify.out" 2>"$work/verify.err" || status=$?
cat >"$work/verify.expected" <<'EOF'
error: plugin 'clock' start command 'system clock set' is refused: Unknown command 'system clock set'
error: plugin 'clock' start command 'system time set '' does not parse: Unterminated quote
warning: plugin 'clock' requires tag 'gps', which no plugin provides
warning: plugin 'ntp' requires tag 'network', which no plugin provides
2 files checked: 2 errors, 2 warnings
EOF
diff -u "$work/verify.expected" "$work/verify.out" >&2 || fail "verify report"
[[ $status -eq 2 ]] || fail "verify exit status $status, expected 2"
[[ ! -s $work/verify.err ]] || { cat "$work/verify.err" >&2; fail "verify wrote to standard error"; }
[[ ! -e $root/handler-ran && ! -e $root/.runonce && ! -e $root/run ]] ||
    fail "verify ran a handler or wrote under the root"
echo "package, plugin build and plugin check done"
