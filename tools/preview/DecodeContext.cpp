#include "DecodeContext.h"

#include <cstdio>
#include <cstring>

namespace qf::preview {

bool DecodeContext::Matches(size_t off, std::string_view lit) const
{
    return Has(off, lit.size()) && std::memcmp(data_ + off, lit.data(), lit.size()) == 0;
}

bool DecodeContext::Fail(size_t off, const std::string &expected)
{
    if (result_.ok) {
        result_.ok = false;
        result_.errorOffset = off;
        result_.expected = expected;
        List(off, "ERROR: " + expected);
    }
    return false;
}

bool DecodeContext::Need(size_t off, uint64_t count, const std::string &what)
{
    if (Has(off, count))
        return true;
    return Fail(size_, what + " (" + std::to_string(count) + " bytes from byte " + std::to_string(off) + "), " +
                           std::to_string(Left(off)) + " left");
}

void DecodeContext::List(size_t off, const std::string &text)
{
    char num[32];
    std::snprintf(num, sizeof num, "%10zu  ", off);
    result_.listing.push_back(num + text);
}

void DecodeContext::Note(const std::string &text)
{
    result_.listing.push_back(std::string(12, ' ') + text);
}

void DecodeContext::AddPage(Page page)
{
    page.number = static_cast<int>(result_.pages.size()) + 1;
    page.ComputeExtent();
    std::string text = "page " + std::to_string(page.number) + ": " + std::to_string(page.width) + " x " +
                       std::to_string(page.height) + " dots";
    text += page.TwoColour() ? ", red and black planes" : ", one plane";
    Note(text);
    result_.pages.push_back(std::move(page));
}

bool DecodeContext::ReadLine(size_t off, std::string_view &text, size_t &next)
{
    for (size_t i = off; i < size_; ++i) {
        if (data_[i] == '\n')
            return Fail(i, "CR before LF (lines end with CR LF)");
        if (data_[i] == '\r') {
            if (i + 1 >= size_)
                return Fail(size_, "LF after CR (lines end with CR LF)");
            if (data_[i + 1] != '\n')
                return Fail(i + 1, "LF after CR (lines end with CR LF)");
            text = std::string_view(reinterpret_cast<const char *>(data_ + off), i - off);
            next = i + 2;
            return true;
        }
    }
    return Fail(size_, "CR LF ending the line that starts at byte " + std::to_string(off));
}

bool Scanner::Accept(std::string_view lit)
{
    if (text_.substr(pos_, lit.size()) != lit)
        return false;
    pos_ += lit.size();
    return true;
}

bool Scanner::Expect(std::string_view lit)
{
    if (Accept(lit))
        return true;
    return ctx_.Fail(Offset(), "\"" + std::string(lit) + "\"");
}

static bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool Scanner::Int(long &value, const std::string &what, bool allowNegative)
{
    size_t start = pos_;
    bool negative = allowNegative && pos_ < text_.size() && text_[pos_] == '-';
    size_t p = pos_ + (negative ? 1 : 0);
    size_t digits = 0;
    long v = 0;
    while (p < text_.size() && IsDigit(text_[p])) {
        if (++digits > 9)
            return ctx_.Fail(base_ + p, what + " of at most 9 digits");
        v = v * 10 + (text_[p] - '0');
        ++p;
    }
    if (digits == 0)
        return ctx_.Fail(base_ + (negative ? p : start), what + " as a decimal number");
    pos_ = p;
    value = negative ? -v : v;
    return true;
}

bool Scanner::IntIn(long &value, long lo, long hi, const std::string &what)
{
    size_t start = Offset();
    if (!Int(value, what, lo < 0))
        return false;
    if (value < lo || value > hi)
        return ctx_.Fail(start, what + " from " + std::to_string(lo) + " to " + std::to_string(hi) + ", found " +
                                    std::to_string(value));
    return true;
}

bool Scanner::Decimal(std::string &text, const std::string &what)
{
    size_t start = pos_;
    size_t p = pos_;
    if (p < text_.size() && text_[p] == '-')
        ++p;
    size_t digits = 0;
    while (p < text_.size() && IsDigit(text_[p]))
        ++p, ++digits;
    if (digits == 0 || digits > 12)
        return ctx_.Fail(base_ + p, what + " as a decimal number");
    if (p < text_.size() && text_[p] == '.') {
        ++p;
        size_t frac = 0;
        while (p < text_.size() && IsDigit(text_[p]))
            ++p, ++frac;
        if (frac == 0)
            return ctx_.Fail(base_ + p, "digits after the decimal point of " + what);
    }
    pos_ = p;
    text = std::string(text_.substr(start, p - start));
    return true;
}

bool Scanner::Word(std::initializer_list<std::string_view> words, std::string &word, const std::string &what)
{
    // Longest match first, so "BATCH" is not taken for a prefix of a longer word.
    std::string_view best;
    for (std::string_view w : words)
        if (text_.substr(pos_, w.size()) == w && w.size() > best.size())
            best = w;
    if (best.empty()) {
        std::string list;
        for (std::string_view w : words)
            list += (list.empty() ? "" : " or ") + std::string(w);
        return ctx_.Fail(Offset(), what + " " + list);
    }
    pos_ += best.size();
    word = std::string(best);
    return true;
}

bool Scanner::End(const std::string &command)
{
    if (AtEnd())
        return true;
    return ctx_.Fail(Offset(), "CR LF ending the " + command + " line");
}

std::string Hex(const uint8_t *data, size_t count)
{
    std::string s;
    for (size_t i = 0; i < count; ++i) {
        if (i)
            s += ' ';
        s += HexByte(data[i]);
    }
    return s;
}

std::string HexByte(unsigned value)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", value & 0xFF);
    return buf;
}

std::string HexWord(uint32_t value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
    return buf;
}

} // namespace qf::preview
