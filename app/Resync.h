// Getting a printer back in step after a job that was cut off in the middle
// of a write (the app killed or restarted while a page was on its way).
//
// A printer that got only part of a raster command still waits for the rest
// of its data, and would take the next job's first bytes as dots. Before each
// write the app records in the spool directory how many bytes are on their
// way to the printer, and removes the record once the write has returned. A
// record found when the next job on that printer starts means the last write
// may have been cut off: the job first sends ResyncBytes, then its own pages.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What completes a cut-off command of `inFlight` bytes in the language of
// model number `modelNumber`, and brings the printer back to reading
// commands: that many bytes of white dots (more than the command can still
// want; the rest is ignored as data outside any command), then the end of a
// command line or the language's documented reset. Empty where the language
// has neither (model 23's packets carry a length and a CRC, and no public
// document says how to bring such a printer back in step).
std::vector<unsigned char> ResyncBytes(int modelNumber, size_t inFlight);

// Where the app keeps the records (its spool directory); empty: nowhere,
// and no record is kept.
void SetInFlightDirectory(const std::string &dir);
const std::string &InFlightDirectory();

// The record of the bytes on their way to one printer.
class InFlightRecord {
public:
    // `spoolDir`: where the record lives; `printerName`: whose it is.
    InFlightRecord(const std::string &spoolDir, const std::string &printerName);

    // Bytes a cut-off write may have left unfinished: 0 when there is no
    // record (the last write returned).
    size_t Pending() const;
    // Before a write of `bytes`; false when the record cannot be written
    // (the write goes ahead anyway).
    bool Begin(size_t bytes) const;
    // After the write returned, whatever its outcome.
    void End() const;

    const std::string &Path() const { return m_path; }

private:
    std::string m_path;
};
