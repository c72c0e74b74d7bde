// Shared machinery of the decoders: bounded access to the input, error and
// listing recording, CR LF line reading and argument scanning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Decode.h"

namespace qf::preview {

class DecodeContext {
public:
    DecodeContext(const uint8_t *data, size_t size, DecodeResult &result) : data_(data), size_(size), result_(result) {}

    const uint8_t *data() const { return data_; }
    size_t size() const { return size_; }
    DecodeResult &result() { return result_; }

    // Bytes left from `off` (0 past the end).
    size_t Left(size_t off) const { return off < size_ ? size_ - off : 0; }
    // True when `count` bytes start at `off` inside the input.
    bool Has(size_t off, size_t count) const { return off <= size_ && count <= size_ - off; }
    // Input starts with `lit` at `off`.
    bool Matches(size_t off, std::string_view lit) const;

    // Records the error (only the first one counts) and returns false.
    bool Fail(size_t off, const std::string &expected);
    // Fails at the end of the input unless `count` bytes start at `off`:
    // "expected <what> (<count> bytes from byte <off>), <left> left".
    bool Need(size_t off, uint64_t count, const std::string &what);

    void List(size_t off, const std::string &text);
    void Note(const std::string &text); // a line without offset

    // Appends a finished page, numbering it.
    void AddPage(Page page);

    // Reads the CR LF terminated line at `off`: `text` gets the bytes before
    // CR, `next` the offset after LF. A LF without CR, a CR without LF or
    // the end of input before CR LF fail at the offending byte.
    bool ReadLine(size_t off, std::string_view &text, size_t &next);

private:
    const uint8_t *data_;
    size_t size_;
    DecodeResult &result_;
};

// Walks the text of one command line, failing with the byte offset of the
// character that did not fit.
class Scanner {
public:
    Scanner(DecodeContext &ctx, std::string_view text, size_t base) : ctx_(ctx), text_(text), base_(base) {}

    size_t Offset() const { return base_ + pos_; }
    bool AtEnd() const { return pos_ >= text_.size(); }
    std::string_view Rest() const { return text_.substr(pos_); }

    // Consumes `lit` when it comes next.
    bool Accept(std::string_view lit);
    // Consumes `lit` or fails "expected <lit>".
    bool Expect(std::string_view lit);
    // Decimal integer as "%d" writes it: optional '-', 1 to 9 digits.
    bool Int(long &value, const std::string &what, bool allowNegative = true);
    // Integer in [lo, hi].
    bool IntIn(long &value, long lo, long hi, const std::string &what);
    // Decimal number with optional fraction ("40.04"); `text` gets it as sent.
    bool Decimal(std::string &text, const std::string &what);
    // One of the words; `word` gets it.
    bool Word(std::initializer_list<std::string_view> words, std::string &word, const std::string &what);
    // Fails unless the line is used up.
    bool End(const std::string &command);

private:
    DecodeContext &ctx_;
    std::string_view text_;
    size_t base_;
    size_t pos_ = 0;
};

// "1B 40 00"-style hex text of `count` bytes.
std::string Hex(const uint8_t *data, size_t count);
std::string HexByte(unsigned value);
std::string HexWord(uint32_t value); // "0x89ABCDEF"

} // namespace qf::preview
