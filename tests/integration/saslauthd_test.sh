#!/usr/bin/env bash
# saslauthd's pam mechanism and pamtester run lodgate-auth through
# pam_exec, as root, as Postfix's and Cyrus' SMTP AUTH and Exim reach it.
needed_programs=(saslauthd testsaslauthd pamtester)
source "$(dirname "$0")/fixture.sh"
dpkg-query -L libpam-modules 2>/dev/null | grep '/pam_exec\.so$' >/dev/null || skip "pam_exec.so is not installed"

add_user ann 'Ann secret 1'
add_user disabled 'Disabled 1'
admin user disable disabled
for name in "${!passwords[@]}"; do add_user "$name" "${passwords[$name]}"; done
import_user bob "$long_password"
install_auth root

# Linux-PAM reads its services from /etc/pam.d only.
service="lodgate-test-$$"
cleanup_files+=("/etc/pam.d/$service")
cat >"/etc/pam.d/$service" <<PAM
auth    required pam_exec.so expose_authtok quiet $auth -c $config pam
account required pam_permit.so
PAM

mkdir "$work/mux"
setsid saslauthd -a pam -m "$work/mux" -n 1 -d >"$work/saslauthd.log" 2>&1 &
daemon_pids+=($!)
for _ in $(seq 100); do [ -S "$work/mux/mux" ] && break; sleep 0.1; done

sasl_answer() { testsaslauthd -f "$work/mux/mux" -s "$service" -u "$1" -p "$2" 2>&1 || true; }
expect_sasl() {
    local answer
    answer=$(sasl_answer "$2" "$3")
    [[ "$answer" == "0: $1"* ]] || fail "testsaslauthd $2: $answer, expected $1"
}
expect_pamtester() {
    local status=0
    printf '%s\n' "$3" | pamtester "$service" "$2" authenticate >/dev/null 2>&1 || status=$?
    [ "$status" -eq "$1" ] || fail "pamtester $2 gave $status, expected $1"
}

expect_sasl OK ann 'Ann secret 1'
expect_sasl NO ann 'Ann secret 2'
expect_sasl NO nobody 'Ann secret 1'
expect_sasl NO disabled 'Disabled 1'
for name in "${!passwords[@]}"; do
    expect_sasl OK "$name" "${passwords[$name]}"
    expect_sasl NO "$name" "${passwords[$name]:1}"
    expect_pamtester 0 "$name" "${passwords[$name]}"
done
# saslauthd takes at most 256 bytes; pam_exec and pamtester take 511.
expect_pamtester 0 bob "$long_password"
expect_pamtester 1 bob "${long_password:1}"
import_user carol "${long_password:0:256}"
expect_sasl OK carol "${long_password:0:256}"
expect_pamtester 0 ann 'Ann secret 1'
expect_pamtester 1 ann 'Ann secret 2'
echo "saslauthd and pamtester test passed"
