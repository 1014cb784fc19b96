// The one line on standard error that a failed check leaves in the
// caller's log (Dovecot and pam_exec copy it there).
#pragma once

// Writes "lodgate-auth: USER: REASON" (or without the user), control
// characters in the user name shown as '?'; returns status.
int report_failure(int status, const char *user, const char *reason);
