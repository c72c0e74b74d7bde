#include "PrinterFactory.h"

#include "PrinterCPCL.h"
#include "PrinterCat.h"
#include "PrinterESCPOS.h"
#include "PrinterNiimbot.h"
#include "PrinterPaperang.h"
#include "PrinterPeriPage.h"
#include "PrinterPhomemo.h"
#include "PrinterTSPL.h"

CBaseRender *CreateRenderer(int modelNumber)
{
    switch (modelNumber) {
    case kModelTSPL:
        return new CPrinterTSPL;
    case kModelESCPOS:
        return new CPrinterESCPOS;
    case kModelCPCL:
        return new CPrinterCPCL;
    case kModelPaperang:
        return new CPrinterPaperang;
    case kModelPeriPage:
        return new CPrinterPeriPage;
    case kModelCat:
        return new CPrinterCat;
    case kModelNiimbot:
        return new CPrinterNiimbot;
    case kModelPhomemo:
        return new CPrinterPhomemo;
    default:
        return nullptr;
    }
}
