// Niimbot label printers: 96- and 384-dot heads, every command a packet
// with an XOR check. The model comes from the PPD's ModelName (B21, B1, D11,
// D110, B18; see NiimbotEncoder.h for the stream and for which pages are
// turned). The bytes come from NiimbotEncoder; this class checks the page
// and writes it.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"
#include "NiimbotEncoder.h"

class CPrinterNiimbot : public CBaseRender {
public:
    CPrinterNiimbot();
    ~CPrinterNiimbot() override;

    void OnPaintBmp() override;

    NS_QV_CLASS::CMyBuffer m_CmdBuffer;
};
