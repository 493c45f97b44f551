#!/usr/bin/env bash
# The source folders depend on each other only downwards, with no include
# cycle between folders nor between the units of http/, gateways/ and
# resident/ (tools/room-deps.py says which include breaks the order).
# ctest-timeout: 30
set -u
SRC=$2
exec python3 "$SRC/tools/room-deps.py" "$SRC"
