#!/usr/bin/env bash
# A private Dovecot asks lodgate-auth through its checkpassword passdb and
# userdb, running it as the dovecot user.
needed_programs=(dovecot doveadm)
source "$(dirname "$0")/fixture.sh"

admin policy set min-length 1
admin policy set lockout-threshold 2
add_user ann 'Ann secret 1' home=/srv/mail/ann
add_user nohome 'No home 1'
add_user locked 'Locked 1'
for name in "${!passwords[@]}"; do add_user "$name" "${passwords[$name]}"; done
# Dovecot runs the program as its own user, from where the package puts it;
# without -c it reads the system directory's lodgate_auth.ini.
install_auth dovecot
auth_config="$sysconfdir/lodgate_auth.ini"
[ ! -e "$auth_config" ] || fail "$auth_config exists: not overwriting it"
mkdir -p "$sysconfdir"
cleanup_files+=("$auth_config")
cp "$config" "$auth_config"
su -s /bin/sh lodgate -c "test -r '$auth_config'" ||
    fail "the lodgate user cannot read $auth_config: build in a directory others may enter"

conf="$work/dovecot.conf"
cat >"$conf" <<CONF
base_dir = $work/run
state_dir = $work/state
log_path = $work/dovecot.log
protocols =
listen = 127.0.0.1
ssl = no
auth_failure_delay = 0
# A sanitizer build reserves far more address space than the 256M default.
default_vsz_limit = 0
passdb {
  driver = checkpassword
  args = $auth checkpassword
}
userdb {
  driver = prefetch
}
userdb {
  driver = checkpassword
  args = $auth checkpassword
  override_fields = uid=nobody gid=nogroup
}
CONF
dovecot -F -c "$conf" &
daemon_pids+=($!)
for _ in $(seq 100); do [ -S "$work/run/auth-client" ] && break; sleep 0.1; done

# Each from its own address: Dovecot delays an address's logins after a failure.
attempts=0
auth_test() {
    attempts=$((attempts + 1))
    doveadm -c "$conf" auth test -x "rip=192.0.2.$attempts" "$1" "$2" >/dev/null 2>&1
}
expect_status() {
    local want=$1; shift
    local status=0
    "$@" || status=$?
    [ "$status" -eq "$want" ] || fail "$* gave $status, expected $want (log: $(tail -3 "$work/dovecot.log"))"
}

expect_status 0 auth_test ann 'Ann secret 1'
expect_status 0 auth_test ANN 'Ann secret 1'
expect_status 77 auth_test ann 'Ann secret 2'
expect_status 77 auth_test nobody 'Ann secret 1'
expect_status 77 auth_test ann ''
for name in "${!passwords[@]}"; do
    expect_status 0 auth_test "$name" "${passwords[$name]}"
    expect_status 77 auth_test "$name" "${passwords[$name]}x"
done
# The interface carries at most 512 bytes: a user of 3 and the three NULs
# leave 506 for the password.
import_user bob "${long_password:0:506}"
expect_status 0 auth_test bob "${long_password:0:506}"

doveadm -c "$conf" user ann | grep -q '^home	/srv/mail/ann$' || fail "doveadm user ann: no home"
doveadm -c "$conf" user nohome | grep -q $'^home\t.' && fail "doveadm user nohome shows a home"
expect_status 67 doveadm -c "$conf" user nosuchuser >/dev/null 2>&1

auth_test locked wrong1 || true
auth_test locked wrong2 || true
expect_status 77 auth_test locked 'Locked 1'
echo "dovecot checkpassword test passed"
