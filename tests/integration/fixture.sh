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

work=$(mktemp -d /tmp/lodgate-auth-test.XXXXXX)
chmod 0755 "$work"
daemon_pids=()
cleanup() {
    for pid in "${daemon_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    for file in "${cleanup_files[@]}"; do rm -f "$file"; done
    rm -rf "$work"
}
cleanup_files=()
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
    echo "$1:x:5000:5000::/home/$1:/bin/sh" >"$work/passwd"
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
