#!/bin/sh
# Starts or stops an rsyslogd that listens only on a socket inside DIR and writes what it
# receives to DIR/received.log as "priority|facility|program|message" lines.
#   private_rsyslogd.sh start DIR OWNER_PID   (stopped at the latest when OWNER_PID ends)
#   private_rsyslogd.sh stop DIR
set -eu
action=$1
dir=$2

case "$action" in
start)
    owner=$3
    mkdir -p "$dir/work"
    cat > "$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir/work")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="$dir/log.sock" CreatePath="on" RateLimit.Interval="0")
template(name="probe" type="string" string="%syslogpriority%|%syslogfacility%|%programname%|%msg%\n")
*.* action(type="omfile" file="$dir/received.log" template="probe")
CONF
    /usr/sbin/rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslogd.pid" > "$dir/rsyslogd.out" 2>&1 &
    daemon=$!
    echo "$daemon" > "$dir/daemon.pid"
    # Never outlive the test that started it, even when that test crashes.
    (while kill -0 "$owner" 2>/dev/null && kill -0 "$daemon" 2>/dev/null; do sleep 1; done
     kill "$daemon" 2>/dev/null || true) > /dev/null 2>&1 &
    i=0
    while [ ! -S "$dir/log.sock" ]; do
        i=$((i + 1))
        if [ $i -gt 100 ] || ! kill -0 "$daemon" 2>/dev/null; then
            cat "$dir/rsyslogd.out" >&2
            exit 1
        fi
        sleep 0.05
    done
    ;;
stop)
    if [ -f "$dir/daemon.pid" ]; then
        daemon=$(cat "$dir/daemon.pid")
        kill "$daemon" 2>/dev/null || true
        i=0
        while kill -0 "$daemon" 2>/dev/null && [ $i -lt 100 ]; do
            i=$((i + 1))
            sleep 0.05
        done
        rm -f "$dir/daemon.pid"
    fi
    ;;
*)
    echo "usage: $0 start DIR OWNER_PID | stop DIR" >&2
    exit 2
    ;;
esac
