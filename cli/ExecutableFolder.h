#pragma once
// The folder of the running executable: a platform piece of its own.
#include "platform/ExecutableFolder.h"
