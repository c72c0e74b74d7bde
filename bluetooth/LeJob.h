// Cat printers over Bluetooth LE, for the app and the CUPS backend alike:
// which of their notifications are flow control, and the end of a job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "BleLink.h"

namespace bt {

// AE 10 asks to wait, AE 00 to go on; everything else, malformed frames
// included, is for the reader.
Flow CatFlow(const uint8_t *data, size_t size);

// After a job's last byte: a printer of the 22 21 preamble says when it has
// printed (AA), and the job waits for that up to timeoutMs; the others say
// nothing, and the link's close drains what is still queued.
bool AwaitPrinted(BleLink &link, const BleSink &sink, int timeoutMs, std::string &error);

} // namespace bt
