// ESC/POS receipt streams, and the command machinery the PeriPage decoder
// extends.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>

#include "DecodeContext.h"

namespace qf::preview {

// Commands understood (hex):
//   1B 40 00              initialise (ESC @ and one NUL)
//   1B 61 n               justification, n = 00 left, 01 centre, 02 right
//   1B 4A n               print and feed n dots
//   1B 70 m t1 t2         drawer pulse, m = 00/01/30/31
//   1D 76 30 m xL xH yL yH + xL|xH<<8 * yL|yH<<8 bytes   raster, m = 00..03
//   1D 56 30 / 1D 56 31   full / partial cut
// Every raster is a page, except that a raster following another one
// directly, with nothing between them, of the same width (and, for GS v 0,
// the same mode) continues it as a band: a tall page, or the pages of one
// receipt. Commands before a page (initialise, justification, a drawer
// pulse) belong to it; feeds, cuts and pulses after it belong to it until
// the next initialise or raster. A page records how many raster commands it
// took ("bands") and the rows of the tallest ("band-rows").
class EscPosDecoder {
public:
    explicit EscPosDecoder(DecodeContext &ctx) : ctx_(ctx) {}
    virtual ~EscPosDecoder() = default;
    void Run();

protected:
    enum class Match { No, Yes, Truncated };
    // Compares the bytes at pos with `prefix`; Truncated when the input ends
    // while they still agree.
    Match Prefix(size_t pos, std::initializer_list<uint8_t> prefix) const;
    Match Prefix(size_t pos, const uint8_t *prefix, size_t length) const;
    bool Truncated(size_t pos, const std::string &name);

    // A fixed-length command: its leading bytes, its whole length, a name
    // for messages.
    struct Form {
        uint8_t prefix[4];
        size_t prefixLength;
        size_t length;
        const char *name;
    };
    // The form whose prefix stands at pos, or null. False (a failure already
    // reported) when the input ends inside a prefix.
    bool FindForm(size_t pos, const Form *forms, size_t count, const Form *&found);

    // The family's own commands, tried before the ESC/POS ones. Sets
    // `handled` and `next` when the bytes at pos were one of them.
    virtual bool Extra(size_t pos, size_t &next, bool &handled);
    // Called before each ESC/POS command; may refuse it where it stands.
    virtual bool Admit(size_t pos);
    // Checks at the end of the input.
    virtual void Finish();
    virtual std::string Expected() const;
    // ESC @ starts a new page (plain ESC/POS), or not (PeriPage frames).
    virtual bool InitEndsPage() const { return true; }
    // May refuse a raster in the current page.
    virtual bool AdmitRaster(size_t pos);

    // The page under construction: `current_` once its raster is seen,
    // `pending_` collects what comes before.
    Page &Target() { return current_ ? *current_ : pending_; }
    void SetParam(const std::string &key, const std::string &value) { Target().params[key] = value; }
    void AddToParam(const std::string &key, long value);
    void StartPending(size_t pos);
    void TakeRaster(Plane plane, const std::string &compressed);
    // A raster at pos continues the current page when it follows the
    // previous raster directly, as wide and of the same `form` (the GS v 0
    // mode byte, or the family's own kind of raster command).
    bool IsBand(size_t pos, int widthBytes, int form) const;
    // Records the raster that ends at `end`, then appends its rows to the
    // current page (`band`) or starts a page with them. False (reported)
    // when the page would grow past the plane limit.
    bool TakeBandOrRaster(bool band, size_t end, int form, Plane plane, const std::string &compressed);
    void FinishPage();
    void FlushFeedRun();

    DecodeContext &ctx_;
    Page pending_;
    bool pendingStarted_ = false;
    std::optional<Page> current_;
    size_t rasterEnd_ = 0; // end of the last raster, 0 before the first
    int rasterForm_ = -1;
    int feedRun_ = 0;
    long feedRunTotal_ = 0;

private:
    bool Command(size_t pos, size_t &next);
};

void DecodeEscPos(DecodeContext &ctx);

} // namespace qf::preview
