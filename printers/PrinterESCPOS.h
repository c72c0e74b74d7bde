#pragma once

#include "BaseRender.h"

class CPrinterESCPOS : public CBaseRender {
};
