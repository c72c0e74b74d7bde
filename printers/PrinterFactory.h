// The renderer for a PPD model number (cupsModelNumber). The model numbers
// are those that ppd/quillfeed.drv declares; keep both ends in step.
#pragma once

#include "BaseRender.h"

enum PrinterModel {
    kModelTSPL = 20,
    kModelESCPOS = 21,
    kModelCPCL = 22,
    kModelPaperang = 23,
    kModelPeriPage = 24,
    kModelCat = 25,
    kModelNiimbot = 26,
    kModelPhomemo = 27,
};

// A new renderer (reference count 1) or null for an unknown model number.
CBaseRender *CreateRenderer(int modelNumber);
