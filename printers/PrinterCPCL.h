// CPCL label printers (cupsModelNumber 22).
//
// Every page is one label: the header line, PAGE-WIDTH, the page as one
// uncompressed CG graphic, FORM for gap and black-line media, PRINT. Each
// command goes to the printer in its own write; lines end with CR LF.
#pragma once

#include "BaseRender.h"

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

private:
    void WriteLine(NS_QV_CLASS::CMyBuffer &line);
};
