// Paperang portable printers: a packet protocol in which every command is
// framed with its length and a keyed CRC-32, the page one row per frame.
#pragma once

#include <cstdint>

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterPaperang : public CBaseRender {
public:
    CPrinterPaperang();
    ~CPrinterPaperang() override;

    void OnPaintBmp() override;

    // Frame: A5 01, n (LE16), the n bytes of the inner command, its CRC
    // (LE32), 5A. An inner command longer than the 16-bit length field can
    // carry appends nothing.
    void cmdChildClassPackage(unsigned char *data, int n);
    // Reflected CRC-32 (zlib's) continued from the protocol key, i.e. the
    // value of zlib's crc32(key, data, len).
    uint32_t MakeCrc32(const unsigned char *data, unsigned len) const;
    void AddToBuffer(const void *p, int len);
    void AddToBuffer(NS_QV_CLASS::CMyBuffer &b);

    void cmdBeginPrinting();
    void cmdEndPrinting();
    void cmdFeed(int v);
    void cmdPaperLocate(int v);
    // Only perforated (3) and roll (4) paper get a paper-type command.
    void cmdSetPaperType(int mediaType);
    // One frame per stored row of m_Image, packet index = row mod 2^16.
    void SendBitmap();

    static constexpr int kMaxInnerLength = 65535;
    // Inner bitmap command: 5-byte head, 12 parameter bytes, the row.
    static constexpr int kMaxRowBytes = kMaxInnerLength - 17;

    uint32_t m_CrcTable[256];
    NS_QV_CLASS::CMyBuffer m_CmdBuffer;

private:
    // Inner command 05 code byte2 k(LE16) then the k parameter bytes, framed.
    void SendCommand(unsigned char code, unsigned char byte2, const NS_QV_CLASS::CMyBuffer &params);

    uint32_t m_uCrcKey;
};
