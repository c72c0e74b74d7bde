// The app as a system service: who may administer it, its local socket,
// and a prompt stop on SIGTERM.
#pragma once

#include <pappl/pappl.h>

// Creating, changing and deleting printers, the settings and the web
// interface's settings pages are for administrators only: root, the app's
// own user and the members of ADMIN_GROUP, told by the process at the other
// end of a loopback TCP connection, or, from other hosts and only with
// AUTH_SERVICE (a PAM service), by the name and password of one of them
// over TLS. Printing and following one's jobs stay open; nothing a
// connection did before (a job sent on it) grants anything.
void SetUpAdministration(pappl_system_t *system, const char *authService, const char *adminGroup);

// PAPPL trusts whoever reaches its local socket, which it makes with mode
// 0777: once the server runs, the socket is made its owner's only (root
// reaches it all the same). NAME is the app's name, as PAPPL forms the path.
void RestrictLocalSocket(pappl_system_t *system, const char *name);

// SIGTERM is taken by one thread of the app's own: called before the
// server starts any thread, so that none of PAPPL's takes it.
void HoldTermSignal();

// On SIGTERM, PAPPL waits up to a minute for pending jobs, and then drops
// them: the state is saved with `save` instead, jobs and all, and the app
// stops at once; the jobs print when it starts again.
void StopPromptlyOnTerm(pappl_system_t *system, bool (*save)(pappl_system_t *, void *));

// PAPPL 1.3 retries opening a printer's device every five seconds for as
// long as it takes, the job "processing" and the printer "stopped": a job
// whose device has not opened for SECONDS is cancelled with the reason.
void EndJobsWithoutDevice(pappl_system_t *system, int seconds);

// What the app keeps of a printer (its status watch, its record of a write
// in flight) goes when the printer is deleted; a printer added while the app
// runs is announced over DNS-SD within a second.
void FollowPrinterChanges(pappl_system_t *system);
