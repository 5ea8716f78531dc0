#pragma once
// `kestrel-cli save`: builds the flash image from update files and saves it, as
// Open File followed by Save As Bin would in the window. argv[0] is "save".
// Returns the exit status: 0 all taken and saved, 1 otherwise, 2 usage error.
int RunSaveCommand(int argc, char** argv);
