#!/usr/bin/env bash
# A private Postfix with Debian's master.cf (smtpd chrooted in its queue
# directory) and the shipped example's SMTP AUTH lines: on one port through
# the private Dovecot's auth socket, on another through a private saslauthd
# with the shipped PAM file, its socket inside the chroot. Real clients, AUTH
# PLAIN and LOGIN after STARTTLS.
needed_programs=(postfix dovecot saslauthd python3 openssl)
source "$(dirname "$0")/fixture.sh"

add_user ann 'Ann secret 1'
add_user disabled 'Disabled 1'
admin user disable disabled
for name in "${!passwords[@]}"; do add_user "$name" "${passwords[$name]}"; done
install_auth lodgate-auth
use_auth_config "$config"

service="lodgate-test-$$"
cleanup_files+=("/etc/pam.d/$service")
sed "s|/usr/sbin/lodgate-auth|$auth|" "$examples/pam-lodgate" >"/etc/pam.d/$service"
# As the README has it: smtpd (the postfix user) reaches saslauthd's socket
# through the sasl group.
if ! id -nG postfix | grep -qw sasl; then
    adduser --quiet postfix sasl
    cleanup_commands+=("deluser --quiet postfix sasl")
fi

conf="$work/postfix" queue="$work/spool"
# Debian's Postfix reads its Cyrus SASL file from <config dir>/sasl.
mkdir -p "$conf/sasl" "$queue" "$work/data"
chown postfix "$work/data"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
    -subj /CN=127.0.0.1 -keyout "$conf/key.pem" -out "$conf/cert.pem" 2>/dev/null
printf 'pwcheck_method: saslauthd\nmech_list: PLAIN LOGIN\n' >"$conf/sasl/smtpd.conf"
{
    printf '%s\n' "compatibility_level = 3.6" "queue_directory = $queue" \
        "data_directory = $work/data" "inet_interfaces = 127.0.0.1" "inet_protocols = ipv4" \
        "myhostname = lodgate-test.example" "mydestination =" "maillog_file = $work/postfix.log" \
        "maillog_file_prefixes = $work"
    sed "s|/etc/ssl/certs/ssl-cert-snakeoil.pem|$conf/cert.pem|; s|/etc/ssl/private/ssl-cert-snakeoil.key|$conf/key.pem|" \
        "$examples/postfix-smtp-auth.cf"
} >"$conf/main.cf"
dovecot_smtp=$(free_port) cyrus_smtp=$(free_port)
# Debian's smtpd line, once per way; the cyrus one with the example's
# second choice.
sed "/^smtp      inet/d" /usr/share/postfix/master.cf.dist >"$conf/master.cf"
{
    echo "127.0.0.1:$dovecot_smtp inet n - y - - smtpd"
    echo "127.0.0.1:$cyrus_smtp inet n - y - - smtpd -o smtpd_sasl_service=$service"
    sed -n 's/^# \(smtpd_sasl_[a-z_]*\) = \(.*\)/  -o \1=\2/p' "$examples/postfix-smtp-auth.cf"
} >>"$conf/master.cf"
postfix -c "$conf" start 2>/dev/null || fail "postfix did not start: $(tail -3 "$work/postfix.log")"
cleanup_commands+=("postfix -c '$conf' stop 2>/dev/null")

mux="$queue/var/run/saslauthd"
install -d -o root -g sasl -m 0710 "$mux"
setsid saslauthd -a pam -m "$mux" -n 1 -d >"$work/saslauthd.log" 2>&1 &
daemon_pids+=($!)
start_dovecot "service auth {
  unix_listener $queue/private/auth {
    mode = 0660
    user = postfix
    group = postfix
  }
}"
wait_port "$dovecot_smtp"

for port in "$dovecot_smtp" "$cyrus_smtp"; do
    for mechanism in smtp-plain smtp-login; do
        expect_mail accepted $mechanism "$port" ann 'Ann secret 1'
        expect_mail refused $mechanism "$port" ann 'Ann secret 2'
        expect_mail refused $mechanism "$port" nobody 'Ann secret 1'
        expect_mail refused $mechanism "$port" disabled 'Disabled 1'
        for name in "${!passwords[@]}"; do
            expect_mail accepted $mechanism "$port" "$name" "${passwords[$name]}"
        done
    done
done
echo "postfix test passed"
