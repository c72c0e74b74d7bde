// The labels in a Niimbot printer, from the tag on its roll: read before
// each job, they become the printer's media-ready (size, gap or mark) and
// its supply of labels; a job whose labels are larger than those loaded is
// refused with the reason. With no tag the job prints on the media and
// darkness it was given, and its log says so.
#pragma once

#include <pappl/pappl.h>

#include "LoadedRoll.h"

struct PpdModel;

// Before a job on a Niimbot printer: asks the roll's tag and label
// information, sets the printer's media-ready and supply, and says whether
// the job may print (false: refused, with the job's message set).
bool CheckLoadedLabels(pappl_job_t *job, pappl_device_t *device, const PpdModel &model,
                       const pappl_pr_options_t *options);
