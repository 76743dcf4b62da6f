// The two WNASPI32 entry points, looked up once by BindAspi and called by discovery and
// ScsiExecute on whatever thread they run. Null while the library is not bound.
#pragma once

#include "drive/Aspi.h"

namespace telvio {

extern ASPI_CALL_GetSupportInfo* aspiSupportInfo;
extern ASPI_CALL_SendCommand* aspiSendCommand;

}  // namespace telvio
