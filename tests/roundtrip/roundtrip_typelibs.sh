#!/usr/bin/env bash
# roundtrip_typelibs.sh QUIBREL_TLB TLBFACTS WIDL LIMITS WORKDIR TYPELIBS_DIR: the round trip
# over every real-world library beside the project; skipped (with a message) when absent.
set -u
dir=$6
if [ ! -d "$dir/files" ]; then
  echo "skipped: the real-world libraries are not at $dir"
  exit 77
fi
exec bash "$(dirname "$0")/roundtrip.sh" "$1" "$2" "$3" "$4" "$5" "$dir"/files/*
