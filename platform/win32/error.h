// The calling thread's last error code.
#pragma once

#include "platform/win32/types.h"

DWORD GetLastError();
void SetLastError(DWORD error);
