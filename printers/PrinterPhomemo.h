// Phomemo label and receipt printers: ESC/POS-like commands with a raster
// image a page, rows as wide as the head. The model comes from the PPD's
// ModelName (M02 ... D30; see PhomemoEncoder.h for the stream). The bytes
// come from PhomemoEncoder; this class checks the page and writes it.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"
#include "PhomemoEncoder.h"

class CPrinterPhomemo : public CBaseRender {
public:
    CPrinterPhomemo();
    ~CPrinterPhomemo() override;

    void OnPaintBmp() override;

    NS_QV_CLASS::CMyBuffer m_CmdBuffer;
};
