// Paperang portable printers: a packet protocol in which every command is
// framed with its length and a keyed CRC-32, the page one row per frame. The
// bytes come from PaperangEncoder; this class checks the page and writes it.
#pragma once

#include <cstdint>

#include "BaseRender.h"
#include "MyBuffer.h"
#include "PaperangEncoder.h"

class CPrinterPaperang : public CBaseRender {
public:
    CPrinterPaperang();
    ~CPrinterPaperang() override;

    void OnPaintBmp() override;

    // --- command builders: each appends to m_CmdBuffer (see PaperangEncoder)
    void cmdChildClassPackage(unsigned char *data, int n);
    uint32_t MakeCrc32(const unsigned char *data, unsigned len) const;
    void AddToBuffer(const void *p, int len);
    void AddToBuffer(NS_QV_CLASS::CMyBuffer &b);

    void cmdBeginPrinting();
    void cmdEndPrinting();
    void cmdFeed(int v);
    void cmdPaperLocate(int v);
    void cmdSetPaperType(int mediaType);
    // One frame per stored row of m_Image as it is.
    void SendBitmap();

    static constexpr int kMaxInnerLength = paperang::kMaxInnerLength;
    static constexpr int kMaxRowBytes = paperang::kMaxRowBytes;

    uint32_t m_CrcTable[256];
    NS_QV_CLASS::CMyBuffer m_CmdBuffer;
};
