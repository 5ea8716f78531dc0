#pragma once
// Ctrl-C for the board commands: a platform piece of its own.
#include "platform/Interrupts.h"
