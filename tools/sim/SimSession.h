// The virtual printer's core, without I/O: what a printer of one family does
// with the bytes of one job (one connection), given its paper, cover and
// link state.
//
// Status queries are answered where a printer of the family would take them
// for one: the query's bytes at a command boundary of the data received so
// far (the same bytes inside a bitmap are data). The rest is the job's data,
// decoded with the preview decoders. A page's fate is decided when it is
// first seen whole: printed, or lost because the paper was out, the cover
// open or the printer off line at that moment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Decode.h"

namespace qf::sim {

// What the printer is like now; changed by its operator while it runs.
struct SimState {
    bool paperOut = false;
    bool paperLow = false;
    bool coverOpen = false;
    bool offline = false;
    bool batteryLow = false;
    bool silent = false;     // answers no query at all
    int paperOutAfter = -1;  // the paper runs out once this many more pages are printed (-1 never)
    int coverOpenAfter = -1; // the cover opens once this many more pages are printed (-1 never)
    long dropAfter = -1;     // the link drops after this many bytes of a job (once; -1 never)
    long bytesPerSecond = 0; // slow link: reads at most this many bytes a second (0 no limit)
    int pauseEvery = 0;      // cat: notifies pause (AE 10), then resume (AE 00), after every N rows (0 never)
    // Niimbot: the roll's tag (read or not; its label in mm).
    bool tag = true;
    int tagWidth = 50, tagLength = 30;
    long pagesPrinted = 0; // every job's, for the print status reply

    // Pages sent now would be lost.
    bool Blocks() const { return paperOut || coverOpen || offline; }
};

struct PageFate {
    int number = 0; // in the job
    bool printed = false;
    std::string why; // for a lost page: "out of paper", "cover open", "off line"
};

class SimSession {
public:
    SimSession(preview::Lang lang, int job);

    // Takes received bytes; returns the bytes to answer with now. Lines for
    // the event log are appended to `events`.
    std::vector<uint8_t> Feed(const uint8_t *data, size_t size, SimState &state, std::vector<std::string> &events);
    // Decides the fate of pages seen whole since the last call.
    void Settle(SimState &state, std::vector<std::string> &events);
    // End of the job: what was held back as a possible query start is data.
    void Finish(SimState &state, std::vector<std::string> &events);

    const std::vector<uint8_t> &Data() const { return m_Data; }
    const std::vector<PageFate> &Fates() const { return m_Fates; }
    // The decode of everything received (after Finish: the whole job).
    const preview::DecodeResult &Result() const { return m_Result; }
    int Queries() const { return m_Queries; }
    int Job() const { return m_Job; }

private:
    // Length of a query starting at `p` of `in` (0 none; -1 too few bytes to tell).
    int QueryAt(const std::vector<uint8_t> &in, size_t p) const;
    bool AtBoundary() const;
    std::vector<uint8_t> Answer(const uint8_t *query, size_t size, const SimState &state) const;
    // Cat: the flow-control notices for the rows received since the last call.
    std::vector<uint8_t> FlowNotices(const SimState &state, std::vector<std::string> &events);

    preview::Lang m_Lang;
    int m_Job;
    std::vector<uint8_t> m_In;   // received, not yet sorted into data and queries
    std::vector<uint8_t> m_Data; // the job's data, queries taken out
    size_t m_Decoded = 0;        // m_Data's size at the last decode
    preview::DecodeResult m_Result;
    std::vector<PageFate> m_Fates;
    int m_Queries = 0;
    mutable size_t m_Framed = 0; // cat, Niimbot: m_Data up to here is whole frames
    size_t m_Walked = 0;         // cat: m_Data up to here is whole frames, their rows counted
    long m_Rows = 0;             // cat: rows (lines) among them
};

// A page's dots as one number, the same for the same dots: FNV-1a over the
// size and the planes.
uint64_t PageHash(const preview::Page &page);
// "page N WxH HASH" (hash in 16 hex digits).
std::string PageLine(const preview::Page &page);

// A cat printer's notification frame (51 78 cmd 00, length, payload, CRC-8, FF).
std::vector<uint8_t> CatNotice(uint8_t cmd, uint8_t payload);

// A Niimbot reply packet (55 55 cmd n data XOR AA AA).
std::vector<uint8_t> NiimbotReply(uint8_t cmd, const std::vector<uint8_t> &data);

// How the family's status byte(s) look for `state` (exposed for tests).
std::vector<uint8_t> StatusBytes(preview::Lang lang, const uint8_t *query, size_t size, const SimState &state);

} // namespace qf::sim
