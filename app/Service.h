// The app as a system service: who may administer it, its local socket,
// and a prompt stop on SIGTERM.
#pragma once

#include <pappl/pappl.h>

// Creating, changing and deleting printers (and the web interface's
// settings pages) for administrators only. With AUTH_SERVICE (a PAM
// service) PAPPL asks every client but the local socket's for the name and
// password of a member of ADMIN_GROUP. Without one: over loopback TCP the
// client's process must belong to root, to the app's own user or to a
// member of ADMIN_GROUP; other hosts are refused.
void SetUpAdministration(pappl_system_t *system, const char *authService, const char *adminGroup);

// PAPPL trusts whoever reaches its local socket, which it makes with mode
// 0777: once the server runs, the socket is made its owner's only (root
// reaches it all the same). NAME is the app's name, as PAPPL forms the path.
void RestrictLocalSocket(pappl_system_t *system, const char *name);

// On SIGTERM, PAPPL 1.3 waits up to a minute for pending jobs: cancel them
// and stop at once instead.
void StopPromptlyOnTerm(pappl_system_t *system);

// PAPPL 1.3 retries opening a printer's device every five seconds for as
// long as it takes, the job "processing" and the printer "stopped": a job
// whose device has not opened for SECONDS is cancelled with the reason.
void EndJobsWithoutDevice(pappl_system_t *system, int seconds);
