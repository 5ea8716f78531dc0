#pragma once
// What the window is asked to start with: the library folder and the files named on
// its command line, or why it cannot start. A refusal is said on standard error and,
// since a window started from a desktop entry has no terminal to read, in a message
// box too.
#include <QStringList>
#include <string>

class IMessageBoxes;

struct StartUpRequest {
    std::string lib;     // the library folder named with --lib, made absolute; "" for the default
    QStringList files;   // opened as if chosen with Open File
    bool station = false;  // --station: the station view instead of the main dialog
    std::string results;   // --results FILE: the station's results file, kept in the settings
    std::string refusal; // why the window does not start ("" when it does)
    int status = 0;      // the exit status of a refusal
};

// Reads the command line that the toolkit has taken its own options out of.
StartUpRequest ReadStartUp(int argc, char** argv);

// Tells the operator why the window does not start: on standard error and in a box.
void RefuseStartUp(const StartUpRequest& request, IMessageBoxes& boxes);
