#pragma once

// kestrel-cli trace FILE: prints a wire trace recorded with --trace, explained.
int RunTraceCommand(int argc, char** argv);
