// lodgate-auth [-c FILE] checkpassword PROG [ARGS...]
// lodgate-auth [-c FILE] pam
//
// Checks passwords against Lodgate's accounts for mail servers that speak
// the checkpassword interface (Dovecot 2.3) or PAM through pam_exec
// (saslauthd, Dovecot's pam passdb, Exim).
#pragma once

// The whole run; returns the exit status (auth/auth_status.h).
int run_lodgate_auth(int argc, char **argv);
