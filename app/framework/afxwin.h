// The framework classes the application is built on.
#pragma once

#include "app/framework/cmd_target.h"
#include "app/framework/dialog.h"
#include "app/framework/thread.h"
#include "app/framework/win_app.h"
#include "app/framework/wnd.h"
