#!/bin/sh
# The core the endurance run packs and signs in place of the demo core: it
# notes each start, then does what the run's fault file says, or hands over
# to the real demo core. The run tells it where things are through the
# client's environment, which a client passes on to its cores.
#
# Fault file, one line: "crash SIG", "exit CODE", "hang SECONDS" (the
# seconds are the client's accelerated ones).
#
# Each start is noted with the SHA-256 of the unit's work file, which the
# work server lists for every unit it issued: the run can tell which units
# reached a core.
MARK=signed
dir="" suffix=""
prev=""
for a in "$@"; do
    case "$prev" in
        -dir) dir=$a ;;
        -suffix) suffix=$a ;;
    esac
    prev=$a
done
fault=""
if [ -n "${QRV_ENDURANCE_CORE_FAULT:-}" ] && [ -r "$QRV_ENDURANCE_CORE_FAULT" ]; then
    read -r fault < "$QRV_ENDURANCE_CORE_FAULT" || true
fi
if [ -n "${QRV_ENDURANCE_STARTS:-}" ]; then
    sum=$(sha256sum "${dir}wudata_${suffix}.dat" 2>/dev/null) || sum=-
    echo "$MARK ${sum%% *} ${fault:-run} | $*" >> "$QRV_ENDURANCE_STARTS"
fi
case "$fault" in
    crash\ *) kill -s "${fault#crash }" $$; exit 1 ;;
    exit\ *) exit "${fault#exit }" ;;
    hang\ *) exec sleep "${fault#hang }" ;;
esac
exec "$QRV_ENDURANCE_MD_CORE" "$@"
