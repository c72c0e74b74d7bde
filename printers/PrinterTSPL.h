#pragma once

#include "BaseRender.h"

class CPrinterTSPL : public CBaseRender {
};
