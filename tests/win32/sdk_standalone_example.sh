#!/usr/bin/env bash
# The SDK as a user gets it: installs the "sdk" component of this build into a fresh prefix,
# builds the example client library from there on its own, as sdk/README.md shows, and runs the
# example's test against that library.
# Arguments: the windows build folder, the toolchain file, the example's test program.
set -euo pipefail
build=$1 toolchain=$2 test_program=$3
work=$build/sdk-standalone
rm -rf "$work"
cmake --install "$build" --component sdk --prefix "$work/sdk" >/dev/null
cmake -S "$work/sdk/share/q417-sdk/example" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQ417_SDK_DIR="$work/sdk" >/dev/null
cmake --build "$work/build"
Q417_EXAMPLE_CLIENT=$(winepath -w "$work/build/ExampleClient.dll") wine "$test_program"
