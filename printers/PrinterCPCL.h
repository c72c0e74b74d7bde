// CPCL label printers (cupsModelNumber 22).
//
// Every page is one label: the header line, PAGE-WIDTH, the page as one
// uncompressed CG graphic, FORM for gap and black-line media, PRINT. The
// page is assembled and written in one piece; lines end with CR LF.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterCPCL : public CBaseRender {
public:
    CPrinterCPCL() = default;
    ~CPrinterCPCL() override = default;

    void OnPaintBmp() override;

    // --- command builders: each writes its bytes at once ---------------------
    // "! offset 200 200 height 1": the 200 200 and the quantity are fixed; the
    // offset is the horizontal adjustment in dots.
    void cmdBegin();
    void cmdPageWidth();
    // The width field is the padded row stride in bytes, so the graphic may be
    // up to 31 blank dots wider than PAGE-WIDTH. No line end follows the data.
    void cmdCG();
    // Only gap and black-line media have a next label to feed to.
    void cmdFORM();
    void cmdPrint();

    NS_QV_CLASS::CMyBuffer m_CmdBuffer;

private:
    // The same commands appended to `out`.
    void AddBegin(NS_QV_CLASS::CMyBuffer &out);
    void AddPageWidth(NS_QV_CLASS::CMyBuffer &out);
    void AddCGLine(NS_QV_CLASS::CMyBuffer &out);
    void AddCG(NS_QV_CLASS::CMyBuffer &out); // the line and the rows
    void AddFORM(NS_QV_CLASS::CMyBuffer &out);
    // Runs one of the Add* above into a buffer of its own and writes it.
    void WriteCommand(void (CPrinterCPCL::*add)(NS_QV_CLASS::CMyBuffer &));
};
