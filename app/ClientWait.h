// The sub-commands that send a job (submit) wait for the server's answer as
// long as the job takes. PAPPL 1.3 prints a raster job while it reads it
// and answers the request only after the last page, so a printer that is
// out of paper holds the answer; its submit gave up after a minute with
// "Unable to print 'FILE': Success" while the job went on and printed once
// paper was back, and whoever sent it again got it twice.
#pragma once

// Every connection made from now on in this process waits without end,
// saying once on standard error that it is waiting.
void WaitForJobsWithoutEnd(const char *baseName);
