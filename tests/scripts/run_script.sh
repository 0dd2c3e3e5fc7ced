#!/bin/sh
# Runs one script client (VBScript or JScript) with cscript in the current
# Wine prefix. cscript hides script errors, so each script prints
# "SCRIPT PASSED" only when all its checks held; ctest looks for that line.
# The event file of OSUtilities.dll points at a fresh temporary file, whose
# Windows path the script finds in %KALVORA_EVENT_LOG%.
set -u
script="$1"
events=$(mktemp /tmp/kalvora-events.XXXXXX)
rm -f "$events"
KALVORA_EVENT_LOG=$(winepath -w "$events" 2>/dev/null)
export KALVORA_EVENT_LOG
wine cscript //nologo "$(winepath -w "$script" 2>/dev/null)"
rc=$?
rm -f "$events"
if [ "$rc" -ne 0 ]; then
    echo "FAIL: cscript exit code $rc"
fi
exit "$rc"
