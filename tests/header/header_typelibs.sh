#!/usr/bin/env bash
# header_typelibs.sh QUIBREL_TLB HEADER_LAYOUT WORKDIR TYPELIBS_DIR: header.sh over every
# real-world library beside the project; skipped (with a message) when absent.
set -u
dir=$4
if [ ! -d "$dir/files" ]; then
  echo "skipped: the real-world libraries are not at $dir"
  exit 77
fi
exec bash "$(dirname "$0")/header.sh" "$1" "$2" "$3" "$dir"/files/*
