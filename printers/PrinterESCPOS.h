// ESC/POS receipt printers: each page is raster image commands between an
// initialisation, a justification, a feed, and optional cut and drawer pulse.
// In receipt mode the pages of a job are one receipt instead: one
// initialisation, then the printed rows of every page, then the feed to the
// cutter and the cut. The bytes come from EscPosEncoder (a function of the
// page and its settings); this class checks the page, keeps the job's state
// (whether the receipt has begun) and writes.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterESCPOS : public CBaseRender {
public:
    CPrinterESCPOS();
    ~CPrinterESCPOS() override;

    void OnInit() override;
    void OnDestroy() override;
    void OnPaintBmp() override;

    // The command vocabulary of the family, each appending to m_CmdBuffer
    // what its EscPosEncoder counterpart appends. A dialect (PeriPage)
    // replaces single commands for its own page sequence.
    virtual void cmdInit();
    virtual void cmdAlign(int align);
    // kind 0 full cut, any other partial cut.
    virtual void cmdCutPaper(int kind);
    // ESC J commands feeding `mm` millimetres, at most 255 dots each.
    virtual void PrintAndFeedPaper(float mm);
    // Raster image of h rows of w bytes, MSB the leftmost dot, a set bit
    // prints. Splits into consecutive commands of at most iBandRows rows
    // (and never more than the 16-bit row count); a w that the 16-bit width
    // can't carry appends nothing.
    virtual void PrintBMP(int xdpi, int ydpi, int w, int h, const void *data, int len);
    virtual void cmdEndPrint();
    virtual void cmdOpenMoneyBox();

    // Row width (bytes) and row count of a raster command are 16-bit fields.
    static constexpr int kMaxRasterField = 65535;

    NS_QV_CLASS::CMyBuffer m_CmdBuffer;

protected:
    // Bytes per raster row that hold the page's dots: (width + 7) / 8.
    int RasterRowBytes() const;

    // False, with an "ERROR:" line for the user, when a raster of h rows of
    // w bytes can't be sent: a row wider than the 16-bit width field, or more
    // raster than a page's command buffer may hold.
    bool RasterFits(int w, int h);

private:
    bool m_bReceiptStarted = false; // the receipt's ESC @ has gone out
};
