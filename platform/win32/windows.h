// Everything of the Windows programming interface the platform layer offers.
#pragma once

#include "platform/win32/debug.h"
#include "platform/win32/dialog.h"
#include "platform/win32/error.h"
#include "platform/win32/file.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/message_box.h"
#include "platform/win32/mmio.h"
#include "platform/win32/module.h"
#include "platform/win32/processor.h"
#include "platform/win32/registry.h"
#include "platform/win32/resource.h"
#include "platform/win32/timer.h"
#include "platform/win32/types.h"
#include "platform/win32/unknown.h"
#include "platform/win32/user_resources.h"
#include "platform/win32/window.h"
