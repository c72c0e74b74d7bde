// Jobs kept over a stop of the app, and printed in the order they came.
#pragma once

#include <pappl/pappl.h>

// Saves the state with `save` within a second of a job's document reaching
// the spool; keeps each printer's jobs in the order they came (PAPPL 1.3
// and 1.4 start the newest waiting job first); and, once the server runs,
// starts the jobs its state kept.
void KeepJobs(pappl_system_t *system, bool (*save)(pappl_system_t *, void *));
