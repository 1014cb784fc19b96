#include "tests/ldap/slapd_fixture.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// The chain overlay hands the consumer's ppolicy updates to the provider;
// mode=self asserts the requester's own identity there, so that a write sent
// to the consumer gets that identity's rights, not the root's.
std::string forwarding_text(const SlapdOptions &options)
{
    if (!options.forward_failures)
        return "";
    return "moduleload back_ldap\noverlay chain\nchain-uri " + options.provider_uri +
           "\nchain-idassert-bind bindmethod=simple binddn=\"" + SLAPD_ROOT_DN +
           "\" credentials=" + SLAPD_ROOT_PASSWORD + " mode=self\nchain-return-error TRUE\n";
}

std::string config_text(const Slapd &s, const SlapdOptions &options)
{
    std::string conf;
    for (const char *schema : {"core", "cosine", "nis", "inetorgperson"})
        conf += std::string("include /etc/ldap/schema/") + schema + ".schema\n";
    conf += "include " LODGATE_SOURCE_DIR "/packaging/ldap/lodgate.schema\n"
            "modulepath /usr/lib/ldap\nmoduleload back_mdb\nmoduleload ppolicy\n"
            "moduleload syncprov\n";
    conf += "pidfile " + s.dir.file("slapd.pid") + "\nargsfile " + s.dir.file("slapd.args") + "\n";
    if (options.tls)
        conf += "TLSCACertificateFile " + s.ca_file + "\nTLSCertificateFile " +
                s.dir.file("server.crt") + "\nTLSCertificateKeyFile " + s.dir.file("server.key") +
                "\n";
    conf += forwarding_text(options);
    conf += std::string("database mdb\nsuffix \"") + SLAPD_SUFFIX + "\"\nrootdn \"" +
            SLAPD_ROOT_DN + "\"\nrootpw " + SLAPD_ROOT_PASSWORD + "\ndirectory " +
            s.dir.file("db") + "\nmaxsize 1073741824\nindex uid eq,sub\nindex objectClass,cn,memberUid eq\nlimits dn.exact=\"" +
            SLAPD_SERVICE_DN + "\" size=unlimited time=unlimited\n";
    conf += std::string("access to attrs=userPassword by dn.exact=\"") + SLAPD_SERVICE_DN +
            "\" manage by self write by anonymous auth by * none\n"
            "access to * by dn.exact=\"" + SLAPD_SERVICE_DN + "\" manage by * read\n";
    if (!options.provider_uri.empty())
        conf += "syncrepl rid=001 provider=" + options.provider_uri +
                " type=refreshAndPersist searchbase=\"" + SLAPD_SUFFIX +
                "\" bindmethod=simple binddn=\"" + SLAPD_ROOT_DN + "\" credentials=" +
                SLAPD_ROOT_PASSWORD + " retry=\"1 +\"\nupdateref " + options.provider_uri + "\n";
    conf += std::string("overlay ppolicy\nppolicy_default \"") + SLAPD_POLICY_DN +
            "\"\nppolicy_use_lockout\noverlay syncprov\n";
    if (options.forward_failures)
        conf += "ppolicy_forward_updates\n";
    return conf;
}

const char BASE_LDIF[] =
    "dn: dc=lodgate,dc=test\nobjectClass: dcObject\nobjectClass: organization\n"
    "dc: lodgate\no: lodgate\n\n"
    "dn: cn=lodgate,dc=lodgate,dc=test\nobjectClass: organizationalRole\n"
    "objectClass: simpleSecurityObject\ncn: lodgate\nuserPassword: service-secret\n\n"
    "dn: cn=default,dc=lodgate,dc=test\nobjectClass: organizationalRole\n"
    "objectClass: pwdPolicy\ncn: default\npwdAttribute: userPassword\n\n";

// A throwaway CA and a server certificate for 127.0.0.1 (or another name).
bool make_certificates(Slapd &s, bool wrong_name)
{
    std::string d = s.dir.path;
    std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::string name = wrong_name ? "DNS:wrong.example" : "IP:127.0.0.1";
    std::string script =
        "cd " + d + " && openssl req -x509 " + key + " -keyout ca.key -out ca.crt -days 1 "
        "-subj /CN=lodgate-test-ca && openssl req " + key + " -keyout server.key -out server.csr "
        "-subj /CN=" + (wrong_name ? "wrong.example" : "127.0.0.1") + " && printf "
        "'subjectAltName=" + name + "' > ext && openssl x509 -req -in server.csr -CA ca.crt "
        "-CAkey ca.key -CAcreateserial -days 1 -extfile ext -out server.crt";
    s.ca_file = s.dir.file("ca.crt");
    return std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
}

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool answers(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

}  // namespace

int silent_listener(int &port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    listen(fd, 16);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

static int free_loopback_port()
{
    int port = 0;
    close(silent_listener(port));
    return port;
}

void Slapd::stop()
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::unique_ptr<Slapd> start_slapd(const SlapdOptions &options)
{
    auto s = std::make_unique<Slapd>();
    s->port = free_loopback_port();
    s->uri = "ldap://127.0.0.1:" + std::to_string(s->port) + "/";
    std::string listen = s->uri;
    if (options.tls) {
        if (!make_certificates(*s, options.wrong_name))
            return nullptr;
        s->tls_uri = "ldaps://127.0.0.1:" + std::to_string(free_loopback_port()) + "/";
        listen += " " + s->tls_uri;
    }
    mkdir(s->dir.file("db").c_str(), 0700);
    std::string conf = s->dir.file("slapd.conf");
    write_file(conf, config_text(*s, options));
    s->pid = fork();
    if (s->pid == 0) {
        execl("/usr/sbin/slapd", "slapd", "-d", "0", "-h", listen.c_str(), "-f", conf.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200 && !answers(s->port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    if (!answers(s->port))
        return nullptr;
    if (options.provider_uri.empty() && ldap_root_change(*s, "ldapadd", BASE_LDIF) != 0)
        return nullptr;
    return s;
}

int run_ldap_tool(const std::string &command, const std::string &input, std::string *output)
{
    TempDir dir;
    write_file(dir.file("in"), input);
    std::string line = "(" + command + ") < " + dir.file("in") + " > " + dir.file("out") + " 2>&1";
    int status = std::system(line.c_str());
    if (output != nullptr)
        *output = read_file(dir.file("out"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ldap_root_change(const Slapd &server, const char *tool, const std::string &ldif)
{
    return run_ldap_tool(std::string(tool) + " -x -H " + server.uri + " -D " + SLAPD_ROOT_DN +
                             " -w " + SLAPD_ROOT_PASSWORD,
                         ldif, nullptr);
}

bool add_store_tree(const Slapd &server, const std::string &base)
{
    std::string dn = base + "," + SLAPD_SUFFIX;
    std::string ldif = "dn: " + dn + "\nchangetype: add\nobjectClass: organizationalUnit\n\n";
    for (const char *ou : {"people", "groups"})
        ldif += std::string("dn: ou=") + ou + "," + dn +
                "\nchangetype: add\nobjectClass: organizationalUnit\n\n";
    int gid = 544;
    for (const char *group : {"Administrators", "Users", "Guests"})
        ldif += std::string("dn: cn=") + group + ",ou=groups," + dn +
                "\nchangetype: add\nobjectClass: posixGroup\ngidNumber: " + std::to_string(gid++) +
                "\n\n";
    ldif += std::string("dn: ") + SLAPD_POLICY_DN + "\nchangetype: modify\nreplace: pwdMinLength\n"
            "pwdMinLength: 0\n-\nreplace: pwdMaxFailure\npwdMaxFailure: 0\n-\n"
            "replace: pwdLockout\npwdLockout: FALSE\n\n";
    return ldap_root_change(server, "ldapmodify", ldif) == 0;
}

StoreSettings slapd_store_settings(const Slapd &server, const std::string &uri,
                                   const std::string &base)
{
    StoreSettings settings;
    LdapSettings &ldap = settings.ldap;
    ldap.uri = uri;
    ldap.user_base = "ou=people," + base + "," + SLAPD_SUFFIX;
    ldap.group_base = "ou=groups," + base + "," + SLAPD_SUFFIX;
    ldap.bind_dn = SLAPD_SERVICE_DN;
    ldap.bind_password_file = server.dir.file("bind-password");
    if (!file_exists(ldap.bind_password_file)) {
        write_file(ldap.bind_password_file, std::string(SLAPD_SERVICE_PASSWORD) + "\n");
        chmod(ldap.bind_password_file.c_str(), 0600);
    }
    ldap.tls = "none";
    ldap.ca_file = server.ca_file;
    ldap.timeout_seconds = 2;
    ldap.policy_dn = SLAPD_POLICY_DN;
    return settings;
}

std::string module_configuration(const LdapSettings &ldap)
{
    return "account_service ldap\nldap_uri " + ldap.uri + "\nldap_user_base " + ldap.user_base +
           "\nldap_group_base " + ldap.group_base + "\nldap_bind_dn " + ldap.bind_dn +
           "\nldap_bind_password_file " + ldap.bind_password_file + "\nldap_tls " + ldap.tls +
           "\nldap_timeout " + std::to_string(ldap.timeout_seconds) + "\nldap_policy_dn " +
           ldap.policy_dn + "\n";
}

std::unique_ptr<Slapd> start_loaded_slapd(const std::string &ldif_file)
{
    auto s = std::make_unique<Slapd>();
    s->port = free_loopback_port();
    s->uri = "ldap://127.0.0.1:" + std::to_string(s->port) + "/";
    mkdir(s->dir.file("db").c_str(), 0700);
    std::string conf = s->dir.file("slapd.conf");
    write_file(conf, config_text(*s, {}));
    write_file(s->dir.file("base.ldif"), BASE_LDIF);
    for (const std::string &ldif : {s->dir.file("base.ldif"), ldif_file})
        if (run_ldap_tool("/usr/sbin/slapadd -q -f " + conf + " -l " + ldif, "", nullptr) != 0)
            return nullptr;
    s->pid = fork();
    if (s->pid == 0) {
        execl("/usr/sbin/slapd", "slapd", "-d", "0", "-h", s->uri.c_str(), "-f", conf.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 400 && !answers(s->port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    if (!answers(s->port))
        return nullptr;
    return s;
}
