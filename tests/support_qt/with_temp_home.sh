#!/bin/sh
# Runs a test program with ZOV_HOME in a fresh temporary folder, removed afterwards.
home=$(mktemp -d "${TMPDIR:-/tmp}/zov_qt_home.XXXXXX") || exit 1
ZOV_HOME=$home "$@"
rc=$?
rm -rf "$home"
exit $rc
