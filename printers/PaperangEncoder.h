// Paperang page encoding: the bytes of a page as a function of the prepared
// page and the settings, with no state of its own. Every command is framed
// with its length and a keyed CRC-32; the page goes one row per frame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "MyBuffer.h"
#include "RegStruct.h"
#include "ximage.h"

namespace paperang {

constexpr int kMaxInnerLength = 65535;
// Inner bitmap command: 5-byte head, 12 parameter bytes, the row.
constexpr int kMaxRowBytes = kMaxInnerLength - 17;

// Where the page's trace lines go (start and end of printing).
using Trace = std::function<void(const std::string &line)>;

// The reflected CRC-32 table (zlib's), and the CRC continued from the
// protocol key, i.e. zlib's crc32(key, data, len).
const uint32_t *CrcTable();
uint32_t KeyedCrc32(const unsigned char *data, unsigned len);

// A5 01, n (LE16), the n bytes of the inner command, its CRC (LE32), 5A. An
// inner command longer than the 16-bit length field can carry appends nothing.
void AddFrame(NS_QV_CLASS::CMyBuffer &out, const unsigned char *inner, int n);
// Inner command 05 code byte2 k(LE16) then the k parameter bytes, framed.
void AddCommand(NS_QV_CLASS::CMyBuffer &out, unsigned char code, unsigned char byte2,
                const NS_QV_CLASS::CMyBuffer &params);
void AddBeginPrinting(NS_QV_CLASS::CMyBuffer &out);
void AddEndPrinting(NS_QV_CLASS::CMyBuffer &out);
void AddFeed(NS_QV_CLASS::CMyBuffer &out, int v);
void AddPaperLocate(NS_QV_CLASS::CMyBuffer &out, int v);
// Only perforated (3) and roll (4) paper get a paper-type command.
void AddPaperType(NS_QV_CLASS::CMyBuffer &out, int mediaType);
// One frame per stored row, packet index = row mod 2^16; `invert` sends the
// prepared rows (1 = white) as dots to burn.
void AddRows(NS_QV_CLASS::CMyBuffer &out, const CxImage &page, bool invert);

// One page. `page` is prepared (one bit, 1 = white, white row padding) and
// read, never changed. The buffer is reserved once, at the page's exact size, before appending.
void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, NS_QV_CLASS::CMyBuffer &out, const Trace &trace);

} // namespace paperang
