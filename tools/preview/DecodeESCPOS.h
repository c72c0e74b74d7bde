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
// Every raster is a page. Commands before it (initialise, justification, a
// drawer pulse) belong to it; feeds, cuts and pulses after it belong to it
// until the next initialise or raster.
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
    void FinishPage();
    void FlushFeedRun();

    DecodeContext &ctx_;
    Page pending_;
    bool pendingStarted_ = false;
    std::optional<Page> current_;
    int feedRun_ = 0;
    long feedRunTotal_ = 0;

private:
    bool Command(size_t pos, size_t &next);
};

void DecodeEscPos(DecodeContext &ctx);

} // namespace qf::preview
