#pragma once

#include "BaseRender.h"

class CPrinterCPCL : public CBaseRender {
};
