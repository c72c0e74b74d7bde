#pragma once

#include "BaseRender.h"

class CPrinterPaperang : public CBaseRender {
};
