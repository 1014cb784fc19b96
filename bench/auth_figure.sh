#!/usr/bin/env bash
# The figures of lodgate-auth: `doveadm auth test`, and a real IMAP LOGIN
# and LOGOUT, through its checkpassword mode against Dovecot's own
# passwd-file passdb, the same yescrypt hash in both, two private instances
# sampled in turns.
#   auth_figure.sh <lodgate-auth> <lodgate-admin> <system config dir> [--smoke]
set -euo pipefail
auth_binary=$1 admin_binary=$2 sysconfdir=$3
samples=31
[ "${4:-}" = --smoke ] && samples=5

skip() { echo "lodgate-auth figure skipped: $*"; exit 0; }
command -v dovecot >/dev/null && command -v doveadm >/dev/null && [ -x /usr/lib/dovecot/imap ] ||
    skip "Dovecot with dovecot-imapd is not installed"
[ "$(id -u)" -eq 0 ] || skip "a private Dovecot needs root"
getent passwd lodgate >/dev/null ||
    adduser --system --group --home /var/lib/lodgate --no-create-home --quiet lodgate
auth_config="$sysconfdir/lodgate_auth.ini"
[ ! -e "$auth_config" ] || skip "$auth_config exists"

work=$(mktemp -d /tmp/lodgate-auth-bench.XXXXXX)
chmod 0755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work" "$auth_config"
}
trap cleanup EXIT

password='bench Password 1'
hash=$(perl -e 'print crypt($ARGV[0], q($y$j9T$Lo4gateBenchSa1t..1$))' "$password")
mkdir -m 0700 "$work/db"
echo "account_db $work/db/lodgate.db" >"$work/db/lodgate.ini"
echo "bench:x:5000:5000::/home/bench:/bin/sh" >"$work/passwd"
echo "bench:$hash:19000:0:99999:7:::" >"$work/shadow"
"$admin_binary" -c "$work/db/lodgate.ini" import "$work/passwd" "$work/shadow" >/dev/null
chown -R lodgate:lodgate "$work/db"
mkdir -p "$sysconfdir"
cp "$work/db/lodgate.ini" "$auth_config"
mkdir -m 0755 "$work/bin"
cp "$auth_binary" "$work/bin/lodgate-auth"
chown lodgate:dovecot "$work/bin/lodgate-auth"
chmod 4750 "$work/bin/lodgate-auth"
echo "bench:{CRYPT}$hash::::::" >"$work/users"
chmod 0644 "$work/users"
# The mail of the IMAP logins, as nobody: the same userdb in both instances.
mkdir "$work/mail"
chown nobody:nogroup "$work/mail"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

start_dovecot() {
    mkdir "$work/$1"
    local port
    port=$(free_port)
    printf -v "${1}_port" '%s' "$port"
    cat >"$work/$1/dovecot.conf" <<CONF
base_dir = $work/$1/run
state_dir = $work/$1/state
log_path = $work/$1/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
mail_location = maildir:~/Maildir
service imap-login {
  inet_listener imap {
    port = $port
  }
  inet_listener imaps {
    port = 0
  }
}
passdb {
  $2
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=$work/mail/%u
}
CONF
    dovecot -F -c "$work/$1/dovecot.conf" &
    pids+=($!)
    for _ in $(seq 100); do [ -S "$work/$1/run/auth-client" ] && break; sleep 0.1; done
}
start_dovecot lodgate "driver = checkpassword
  args = $work/bin/lodgate-auth checkpassword"
start_dovecot file "driver = passwd-file
  args = scheme=CRYPT $work/users"

# Milliseconds of one successful `doveadm auth test`.
sample() {
    local start=$EPOCHREALTIME
    doveadm -c "$work/$1/dovecot.conf" auth test bench "$password" >/dev/null ||
        { echo "doveadm auth test failed through $1" >&2; exit 1; }
    local end=$EPOCHREALTIME
    echo "$(( (${end/./} - ${start/./}) ))"
}
sample lodgate >/dev/null
sample file >/dev/null
for _ in $(seq "$samples"); do
    sample lodgate >>"$work/lodgate.us"
    sample file >>"$work/file.us"
done
# Microseconds of connect, LOGIN and LOGOUT, one client process for both
# instances, a login of each in turn; the first of each is not counted.
python3 - "$lodgate_port" "$file_port" "$samples" "$work" "$password" <<'PY'
import imaplib, sys, time
ports, samples, work, password = sys.argv[1:3], int(sys.argv[3]), sys.argv[4], sys.argv[5]
files = [open(f"{work}/{name}.imap.us", "w") for name in ("lodgate", "file")]
for turn in range(samples + 1):
    for port, out in zip(ports, files):
        start = time.perf_counter()
        client = imaplib.IMAP4("127.0.0.1", int(port))
        client.login("bench", password)
        client.logout()
        if turn:
            print(round((time.perf_counter() - start) * 1e6), file=out)
PY

# median [min-max] in ms
spread() { sort -n "$1" | awk '{v[NR]=$1} END {printf "%.4g %.4g %.4g\n", v[int((NR+1)/2)]/1000, v[1]/1000, v[NR]/1000}'; }
row() {  # name figure-file floor-file limit
    local value low high floor
    read -r value low high < <(spread "$2")
    read -r floor _ _ < <(spread "$3")
    awk -v name="$1" -v value="$value" -v low="$low" -v high="$high" -v floor="$floor" \
        -v limit="$4" 'BEGIN {
        ratio = value / floor
        printf "| %-48s | %-32s | %-14s | %-8s | %-18s | %-4s |\n", name,
            sprintf("%.4g ms [%.4g-%.4g]", value, low, high), sprintf("%.4g ms", floor),
            sprintf("%.3f", ratio), "<= " limit " x", ratio <= limit ? "yes" : "NO"
    }'
}
printf "\nlodgate-auth (median [min-max] of %d samples each, in turns):\n" "$samples"
row "doveadm auth test through lodgate-auth" "$work/lodgate.us" "$work/file.us" 1.05
row "IMAP LOGIN and LOGOUT through lodgate-auth" "$work/lodgate.imap.us" "$work/file.imap.us" 1.0
echo "  floors: the same yescrypt user through Dovecot's passwd-file passdb"
