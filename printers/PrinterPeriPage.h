// PeriPage portable printers: ESC/POS plus DLE-prefixed start-up, paper,
// density, cut-line and end commands, and a deflate-compressed raster. The
// bytes come from PeriPageEncoder; this class checks the page and writes it.
#pragma once

#include "PeriPageEncoder.h"
#include "PrinterESCPOS.h"

class CPrinterPeriPage : public CPrinterESCPOS {
public:
    CPrinterPeriPage();
    ~CPrinterPeriPage() override;

    // Nothing at the start or the end of the job: every page is complete in
    // itself, and the ESC/POS end-of-job cut is not for these printers.
    void OnInit() override;
    void OnDestroy() override;
    void OnPaintBmp() override;

    void cmdInit() override;
    // Compressed raster when bImageCompress is set, else GS v 0.
    void PrintBMP(int xdpi, int ydpi, int w, int h, const void *data, int len) override;
    void cmdEndPrint() override;

    // Darkness 0 to 15; a negative value leaves the printer's own setting.
    void cmdDENSITY(int density);
    void cmdCutLine();

    // Widest compressed row the printers take, in bytes.
    static constexpr int kMaxCompressedRow203 = peripage::kMaxCompressedRow203;
    static constexpr int kMaxCompressedRowHigh = peripage::kMaxCompressedRowHigh;
};
