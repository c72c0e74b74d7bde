#pragma once

#include "PrinterESCPOS.h"

class CPrinterPeriPage : public CPrinterESCPOS {
};
