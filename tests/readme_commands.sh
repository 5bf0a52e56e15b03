#!/usr/bin/env bash
# Follows README.md as a user does: makes the demo county with scripts/demo
# (a small one), then runs every `sh` block of the guide in order, in one
# shell, from the folder where the guide starts. The `bash` blocks set up a
# machine (packages, the builds, an installation); the demo run here stands
# in for them, on the programs of this build folder.
#
#   tests/readme_commands.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source_dir=$1
build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A folder laid out as a checkout after scripts/demo: its scripts, sources
# and build/.
ln -s "$source_dir/scripts" "$source_dir/src" "$work/"
ln -s "$build_dir" "$work/build"
cd "$work"
if ! LANDSTAT_SKIP_SETUP=1 scripts/demo --parcels 300 >demo.txt 2>&1; then
  cat demo.txt
  echo "readme: scripts/demo failed" >&2
  exit 1
fi

# Each block after a line naming where it is in the README, so that a
# failure names the block.
awk '/^```sh$/ { inside = 1; print "block=" NR; next }
     /^```/ { inside = 0; next }
     inside' "$source_dir/README.md" >guide.sh
if ! grep -q . guide.sh; then
  echo "readme: no sh block in $source_dir/README.md" >&2
  exit 1
fi
{
  echo 'set -eo pipefail'
  echo 'trap '\''echo "readme: the block at line $block of README.md failed" >&2'\'' ERR'
  cat guide.sh
} >run.sh
bash run.sh
