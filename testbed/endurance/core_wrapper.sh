#!/bin/sh
# The core the endurance run packs and signs in place of the demo core: it
# notes each start, then does what the run's fault file says, or hands over
# to the real demo core. The run tells it where things are through the
# client's environment, which a client passes on to its cores.
#
# Fault file, one line: "crash SIG", "exit CODE", "hang SECONDS" (the
# seconds are the client's accelerated ones).
MARK=signed
if [ -n "${QRV_ENDURANCE_STARTS:-}" ]; then
    echo "$MARK $$ $*" >> "$QRV_ENDURANCE_STARTS"
fi
fault=""
if [ -n "${QRV_ENDURANCE_CORE_FAULT:-}" ] && [ -r "$QRV_ENDURANCE_CORE_FAULT" ]; then
    read -r fault < "$QRV_ENDURANCE_CORE_FAULT" || true
fi
case "$fault" in
    crash\ *) kill -s "${fault#crash }" $$; exit 1 ;;
    exit\ *) exit "${fault#exit }" ;;
    hang\ *) exec sleep "${fault#hang }" ;;
esac
exec "$QRV_ENDURANCE_MD_CORE" "$@"
