// TSPL label printers (cupsModelNumber 20).
//
// Every page is one self-contained TSPL job: label size, media and head
// settings, CLS, one bitmap (two in two-colour mode) and PRINT, written to the
// printer in one piece. Lines end with CR LF; numbers are plain decimal.
// The bytes come from TsplEncoder (a function of the page and its settings);
// this class checks the page and writes it.
#pragma once

#include <zlib.h>

#include "BaseRender.h"
#include "MyBuffer.h"
#include "TsplEncoder.h"

class CPrinterTSPL : public CBaseRender {
public:
    CPrinterTSPL() = default;
    ~CPrinterTSPL() override = default;

    void OnPaintBmp() override;

    // --- command builders: each appends its line to m_CmdBuffer, as the
    // encoder's tspl::Lines does ---------------------------------------------
    // Unit 1 sends " mm", unit 2 " dot", any other unit no unit word.
    void cmdSIZE(double width, double height, int unit);
    void cmdSetRibbon(bool on);
    void cmdSetPeel(bool on);
    void cmdSetTear(bool on);
    // Mode 0 "FALSE", 1 "BATCH", otherwise cut after every `count` labels.
    void cmdSetCutter(int mode, int count);
    // Mode 0 "OFF", 1 "BATCH", otherwise cut after every `count` labels.
    void cmdSetPartialCutter(int mode, int count);
    // The length arguments below are millimetres, sent as printer dots.
    void cmdREFERENCE(float x, float y);
    void cmdGAP(float gap, float offset);
    void cmdBLINE(int height, int offset);
    void cmdOFFSET(float distance);
    // A negative density or speed keeps the printer's own setting (no line).
    void cmdDENSITY(int density);
    // The firmware rejects speed 0 and speeds above 12; those send 4.
    void cmdSPEED(int speed);
    void setcAutoDotted(bool on);
    void setcPauseKey(bool on);
    void setcWaterMark(bool on);
    void cmdCLS();
    void cmdSetColorRed(int param);
    void cmdSetColorBlack();
    // Plain form (mode 1): the bits as the prepared image holds them, 1 =
    // white. Compressed form (mode 3, bImageCompress): the printer wants
    // 1 = dot there, so the inverted bytes are sent as one zlib stream. The
    // image is left as it is.
    void cmdBITMAP(CxImage &image, int x, int y, int widthBytes, int height, const void *bits, int length);
    // "SFAYPRINT" for the one model whose firmware wants it, else "PRINT".
    void cmdPRINT(int sets, int copies);

    // The page being assembled; empty between pages.
    NS_QV_CLASS::CMyBuffer m_CmdBuffer;

protected:
    // zlib's compress(); a seam so that the plain fallback can be exercised.
    virtual int Compress(Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen);

private:
    tspl::Lines Lines();
    tspl::Compressor Compressor();
    tspl::Trace Trace();
};
