// CPCL label printers (cupsModelNumber 22).
//
// Every page is one label: the header line, PAGE-WIDTH, the page as one
// uncompressed CG graphic, FORM for gap and black-line media, PRINT. The
// bytes come from CpclEncoder; this class checks the page and writes it in
// one piece. Lines end with CR LF.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterCPCL : public CBaseRender {
public:
    CPrinterCPCL() = default;
    ~CPrinterCPCL() override = default;

    void OnPaintBmp() override;

    // --- command builders: each writes its bytes at once (see CpclEncoder) --
    void cmdBegin();
    void cmdPageWidth();
    // The graphic's line and the image storage as it is, two writes.
    void cmdCG();
    void cmdFORM();
    void cmdPrint();

    NS_QV_CLASS::CMyBuffer m_CmdBuffer;

private:
    void WriteBuffer(const NS_QV_CLASS::CMyBuffer &out);
};
