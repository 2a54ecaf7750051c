#!/usr/bin/env bash
# Builds quoteloomd against each SDK folder the build wrote (-DQUOTELOOM_CTP_SDK_DIR, only the
# targets the collector needs) and runs the end-to-end collection against the front simulator with it:
# login, 1475 subscriptions, files equal to the simulator's summary, hostile ticks refused and counted.
# usage: sdk_families.sh SOURCE_DIR WORK_DIR E2E_TEST_PROGRAM BUILD_TYPE RELEASE=FOLDER...
set -euo pipefail
source_dir=$1 work_dir=$2 e2e=$3 build_type=$4
shift 4
mkdir -p "$work_dir"
for entry in "$@"; do
  release=${entry%%=*}
  folder=${entry#*=}
  tree=$work_dir/$release
  started=$(date +%s)
  echo "== CTP $release: building quoteloomd against $folder"
  # No debug information and no optimisation: the collector is built five times on every test run.
  cmake -S "$source_dir" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DCMAKE_CXX_FLAGS_DEBUG= \
    -DQUOTELOOM_CTP_SDK_DIR="$folder" -DQUOTELOOM_GUI=OFF -DQUOTELOOM_BENCH=OFF >"$tree.configure.log" 2>&1 ||
    { cat "$tree.configure.log"; exit 1; }
  cmake --build "$tree" --target quoteloomd -j"$(nproc)" >"$tree.build.log" 2>&1 || { tail -50 "$tree.build.log"; exit 1; }
  built=$(date +%s)
  echo "== CTP $release: built in $((built - started)) s; collecting"
  QUOTELOOM_E2E_QUOTELOOMD=$tree/daemon/quoteloomd QUOTELOOM_E2E_SDK_RELEASE=$release \
    "$e2e" --gtest_filter='*HostileTicksAreRefusedCountedAndNeverReachAFileOrALine'
  echo "== CTP $release: done in $(($(date +%s) - started)) s"
done
