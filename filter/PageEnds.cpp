#include "PageEnds.h"

#include <cups/sidechannel.h>

#include <cstdlib>
#include <cstring>

namespace {

bool BackendWantsPageEnds()
{
    const char *uri = getenv("DEVICE_URI");
    return uri && (strncmp(uri, "quillbt:", 8) == 0 || strncmp(uri, "quillble:", 9) == 0);
}

} // namespace

void AnnouncePageEnd()
{
    static const bool wanted = BackendWantsPageEnds();
    static bool answered = true;
    if (!wanted || !answered)
        return;
    char data[64];
    int length = sizeof data;
    // The backend answers once it has taken the page from the pipe; one that
    // does not answer is not asked again.
    answered = cupsSideChannelDoRequest(CUPS_SC_CMD_DRAIN_OUTPUT, data, &length, 30.0) == CUPS_SC_STATUS_OK;
}
