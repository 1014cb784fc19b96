#!/usr/bin/env bash
# A private Dovecot built from the shipped example, reached by real IMAP,
# POP3 and LMTP clients; its checkpassword passdb and userdb run lodgate-auth
# as the dovecot user. The accounts are in SQLite, or (ldap) in the
# README's directory site: a provider and a consumer, the mail host naming
# the consumer first.
#   dovecot_test.sh LODGATE-AUTH LODGATE-ADMIN SYSCONFDIR sqlite|ldap
#                   [LODGATE-AUTH-LDAP LODGATE_LIBEXECDIR]
needed_programs=(dovecot python3)
[ "$4" = sqlite ] || needed_programs+=(slapd slapadd slaptest ldapsearch)
source "$(dirname "$0")/fixture.sh"

auth_config=$config
if [ "$4" = ldap ]; then
    [ -x "${5:-}" ] && [ "$(dirname "$5")" = "${6:-}" ] ||
        skip "lodgate-auth runs lodgate-auth-ldap from LODGATE_LIBEXECDIR (${6:-not set}), where this build has none (${5:-no such program})"
    start_slapd provider
    start_slapd consumer "$provider_uri"
    directory_config "$provider_uri" >"$config"
    auth_config="$work/db/lodgate_auth.ini"
    directory_config "$consumer_uri" "$provider_uri" >"$auth_config"
fi
admin policy set min-length 1
admin policy set lockout-threshold 2
mkdir -m 0700 "$work/homes" && chown vmail:vmail "$work/homes"
add_user ann 'Ann secret 1' "home=$work/homes/ann"
add_user disabled 'Disabled 1'
admin user disable disabled
add_user locked 'Locked 1'
for name in "${!passwords[@]}"; do add_user "$name" "${passwords[$name]}"; done
# The interface carries at most 512 bytes: a user of 3 and the three NULs
# leave 506 for the password.
import_user bob "${long_password:0:506}"
install_auth lodgate-auth
use_auth_config "$auth_config"
# A consumer has every account once it has the last one.
[ "$4" = sqlite ] || for _ in $(seq 100); do
    ldapsearch -x -LLL -H "$consumer_uri" -b "$slapd_suffix" uid=bob dn | grep -q . && break
    sleep 0.1
done
start_dovecot

for protocol in imap pop3; do
    port=${protocol}_port
    expect_mail "accepted 0" "$protocol" "${!port}" ann 'Ann secret 1'
    expect_mail refused "$protocol" "${!port}" ann 'Ann secret 2'
    expect_mail refused "$protocol" "${!port}" nobody 'Ann secret 1'
    expect_mail refused "$protocol" "${!port}" disabled 'Disabled 1'
    for name in "${!passwords[@]}"; do
        expect_mail accepted "$protocol" "${!port}" "$name" "${passwords[$name]}"
        expect_mail refused "$protocol" "${!port}" "$name" "${passwords[$name]}x"
    done
done
expect_mail accepted imap "$imap_port" ANN 'Ann secret 1'
expect_mail accepted imap "$imap_port" bob "${long_password:0:506}"
[ -d "$work/homes/ann/Maildir" ] || fail "ann's mail is not in her home"

# LMTP looks the recipient up without a password.
expect_mail accepted lmtp "$lmtp_port" ann
expect_mail refused lmtp "$lmtp_port" nosuchuser
expect_mail "accepted 1" pop3 "$pop3_port" ann 'Ann secret 1'

expect_mail refused imap "$imap_port" locked wrong1
expect_mail refused imap "$imap_port" locked wrong2
expect_mail refused imap "$imap_port" locked 'Locked 1'
echo "dovecot test ($4) passed"
