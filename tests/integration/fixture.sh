# Sourced by the integration tests: accounts in a private database owned by
# the lodgate user, and lodgate-auth installed as the package installs it.
# Arguments: lodgate-auth, lodgate-admin, the system configuration directory.
set -euo pipefail
auth_binary=$1 admin_binary=$2 sysconfdir=$3

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
for program in "${needed_programs[@]}"; do
    command -v "$program" >/dev/null || skip "$program is not installed (tools/install-deps installs it)"
done
[ "$(id -u)" -eq 0 ] || fail "the mail servers' fixtures need root"
getent passwd lodgate >/dev/null ||
    adduser --system --group --home /var/lib/lodgate --no-create-home --quiet lodgate
# As the README has them made: the group that may run lodgate-auth, the user
# that owns the mail.
getent group lodgate-auth >/dev/null || addgroup --system --quiet lodgate-auth
getent passwd vmail >/dev/null ||
    useradd --user-group --no-create-home --home-dir /var/vmail --shell /usr/sbin/nologin vmail
examples=$(cd "$(dirname "$0")/../../packaging/examples" && pwd)
client() { python3 "$(dirname "$0")/mail_client.py" "$@"; }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_port() {
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done
    fail "nothing answers on port $1"
}

work=$(mktemp -d /tmp/lodgate-auth-test.XXXXXX)
chmod 0755 "$work"
daemon_pids=()
cleanup() {
    for command in "${cleanup_commands[@]}"; do eval "$command" || true; done
    for pid in "${daemon_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    for file in "${cleanup_files[@]}"; do rm -f "$file"; done
    rm -rf "$work"
}
cleanup_files=() cleanup_commands=()
trap cleanup EXIT

mkdir -m 0700 "$work/db"
config="$work/db/lodgate.ini"
echo "account_db $work/db/lodgate.db" >"$config"
admin() { "$admin_binary" -c "$config" "$@" >/dev/null; }
add_user() { printf '%s\n' "$2" | admin --password-stdin user add "$1" "${@:3}"; }
# The store takes new passwords of at most 256 characters; longer ones come
# in as the crypt hashes of an imported host (this one is upgraded at its
# first logon).
import_user() {
    perl -e 'print crypt($ARGV[0], q($6$lodgatetest$))' "$2" |
        sed "s/^/$1:/; s/\$/:19000:0:99999:7:::/" >"$work/shadow"
    echo "$1:x:5000:5000:::/bin/sh" >"$work/passwd"
    admin import --min-uid 1000 "$work/passwd" "$work/shadow"
}

# Setuid lodgate, executable by the group that may check passwords only.
install_auth() {
    mkdir -m 0755 "$work/bin"
    cp "$auth_binary" "$work/bin/lodgate-auth"
    chown "lodgate:$1" "$work/bin/lodgate-auth"
    chmod 4750 "$work/bin/lodgate-auth"
    auth="$work/bin/lodgate-auth"
    chown -R lodgate:lodgate "$work/db"
}

# Passwords the line protocol could not carry.
long_password=$(head -c 511 /dev/zero | tr '\0' 'p')
declare -A passwords=(
    [spaces]=' two  spaces, one at each end '
    [quotes]='say "hello" and "" twice'
    [accents]='Grüße, Ζεύς, 日本語'
)

# lodgate-auth without -c reads the system directory's lodgate_auth.ini.
use_auth_config() {
    local auth_config="$sysconfdir/lodgate_auth.ini"
    [ ! -e "$auth_config" ] || fail "$auth_config exists: not overwriting it"
    mkdir -p "$sysconfdir"
    cleanup_files+=("$auth_config")
    cp "$1" "$auth_config"
    su -s /bin/sh lodgate -c "test -r '$auth_config'" ||
        fail "the lodgate user cannot read $auth_config: build in a directory others may enter"
}

# A private Dovecot (IMAP, POP3, LMTP on free ports) around the shipped
# example, with only the program's path replaced; $1 is added to its main
# configuration. With ssl = no the imaps and pop3s listeners stay closed.
start_dovecot() {
    imap_port=$(free_port) pop3_port=$(free_port) lmtp_port=$(free_port)
    mkdir -p "$work/dovecot" "$work/mail"
    chown vmail:vmail "$work/mail"
    sed "s|/usr/sbin/lodgate-auth|$auth|" "$examples/dovecot-auth-lodgate.conf" >"$work/dovecot/auth.conf.ext"
    local service listener
    {
        printf '%s\n' "base_dir = $work/dovecot/run" "state_dir = $work/dovecot/state" \
            "log_path = $work/dovecot.log" "protocols = imap pop3 lmtp" "listen = 127.0.0.1" "ssl = no" \
            "disable_plaintext_auth = no" "auth_failure_delay = 0" "mail_home = $work/mail/%Ln" \
            "mail_location = maildir:~/Maildir" "${1:-}"
        # A sanitizer build reserves far more address space than the 256M default.
        echo "default_vsz_limit = 0"
        for service in imap-login:imap pop3-login:pop3 lmtp:lmtp; do
            listener=${service#*:}_port
            printf '%s\n' "service ${service%:*} {" "inet_listener ${service#*:} {" \
                "address = 127.0.0.1" "port = ${!listener}" "}" "}"
        done
        echo "!include auth.conf.ext"
    } >"$work/dovecot/dovecot.conf"
    dovecot -F -c "$work/dovecot/dovecot.conf" &
    daemon_pids+=($!)
    wait_port "$imap_port"
}
# expect_mail accepted|refused PROTOCOL PORT USER [PASSWORD]
expect_mail() {
    local answer
    answer=$(client "${@:2}" 2>&1) || true
    [[ "$answer" == "$1"* ]] || fail "${*:2:4}: $answer, expected $1 (logs: $(tail -n 3 "$work"/*.log))"
}

# The README's directory site: a provider loaded with slapadd, consumers that
# forward their failed binds to it; each converted to cn=config by slaptest.
slapd_suffix=dc=lodgate,dc=test
start_slapd() {  # name [provider uri]
    local dir="$work/$1" port root="cn=admin,$slapd_suffix" tree=/dev/null gid=544 entry
    port=$(free_port)
    mkdir -p "$dir/db" "$dir/slapd.d"
    {
        printf 'include /etc/ldap/schema/%s.schema\n' core cosine nis inetorgperson
        printf '%s\n' "include $examples/../ldap/lodgate.schema" "modulepath /usr/lib/ldap" \
            "moduleload back_mdb" "moduleload back_ldap" "moduleload ppolicy" "moduleload syncprov"
        [ -z "${2:-}" ] || printf '%s\n' "overlay chain" "chain-uri $2" "chain-return-error TRUE" \
            "chain-idassert-bind bindmethod=simple binddn=$root credentials=root-secret mode=self"
        printf '%s\n' "database mdb" "suffix $slapd_suffix" "rootdn $root" "rootpw root-secret" \
            "directory $dir/db" "index uid,cn,memberUid eq" \
            "access to attrs=userPassword by dn.exact=cn=lodgate,$slapd_suffix manage by self write by anonymous auth by * none" \
            "access to * by dn.exact=cn=lodgate,$slapd_suffix manage by * read"
        [ -z "${2:-}" ] || printf '%s\n' \
            "syncrepl rid=001 provider=$2 type=refreshAndPersist searchbase=$slapd_suffix bindmethod=simple binddn=$root credentials=root-secret retry=\"1 +\"" \
            "updateref $2"
        printf '%s\n' "overlay ppolicy" "ppolicy_default cn=default,$slapd_suffix" ppolicy_use_lockout
        if [ -n "${2:-}" ]; then echo ppolicy_forward_updates; else echo "overlay syncprov"; fi
    } >"$dir/slapd.conf"
    if [ -z "${2:-}" ]; then
        tree="$dir/tree.ldif"
        {
            printf 'dn: %s\nobjectClass: dcObject\nobjectClass: organization\ndc: lodgate\no: lodgate\n\n' "$slapd_suffix"
            printf 'dn: cn=lodgate,%s\nobjectClass: organizationalRole\nobjectClass: simpleSecurityObject\ncn: lodgate\nuserPassword: service-secret\n\n' "$slapd_suffix"
            printf 'dn: cn=default,%s\nobjectClass: organizationalRole\nobjectClass: pwdPolicy\ncn: default\npwdAttribute: userPassword\n\n' "$slapd_suffix"
            for entry in people groups; do
                printf 'dn: ou=%s,%s\nobjectClass: organizationalUnit\nou: %s\n\n' $entry "$slapd_suffix" $entry
            done
            for entry in Administrators Users Guests; do
                printf 'dn: cn=%s,ou=groups,%s\nobjectClass: posixGroup\ncn: %s\ngidNumber: %s\n\n' \
                    $entry "$slapd_suffix" $entry $((gid++))
            done
        } >"$tree"
    fi
    slapadd -f "$dir/slapd.conf" -l "$tree" >"$dir/slapadd.log" 2>&1 || fail "slapadd of $1: $(cat "$dir/slapadd.log")"
    slaptest -Q -f "$dir/slapd.conf" -F "$dir/slapd.d" || fail "slaptest of $1 failed"
    slapd -d 0 -h "ldap://127.0.0.1:$port/" -F "$dir/slapd.d" 2>"$dir/slapd.log" &
    daemon_pids+=($!)
    wait_port "$port"
    printf -v "${1}_uri" '%s' "ldap://127.0.0.1:$port/"
}
# A lodgate.ini for the directory reached through these URIs.
directory_config() {
    [ -e "$work/db/bind-password" ] || (umask 077 && echo service-secret >"$work/db/bind-password")
    printf '%s\n' "account_service ldap" "ldap_uri $*" "ldap_user_base ou=people,$slapd_suffix" \
        "ldap_group_base ou=groups,$slapd_suffix" "ldap_bind_dn cn=lodgate,$slapd_suffix" \
        "ldap_bind_password_file $work/db/bind-password" "ldap_tls none" \
        "ldap_policy_dn cn=default,$slapd_suffix" "account_db $work/db/lodgate.db"
}
