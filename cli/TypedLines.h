#pragma once
// The console's typed commands: a platform piece of its own.
#include "platform/TypedLines.h"
