// Cat printers: small Bluetooth Low Energy roll printers, 384 dots a row,
// every command a frame with a CRC-8. The model comes from the PPD's
// ModelName (GB01 ... MXW01; see CatEncoder.h for the stream, and for how
// the MXW01's lines are marked for its bulk characteristic). The bytes come
// from CatEncoder; this class checks the page and writes it.
#pragma once

#include "BaseRender.h"
#include "CatEncoder.h"
#include "MyBuffer.h"

class CPrinterCat : public CBaseRender {
public:
    CPrinterCat();
    ~CPrinterCat() override;

    void OnPaintBmp() override;

    NS_QV_CLASS::CMyBuffer m_CmdBuffer;
};
