// The window's tests run on Qt's offscreen platform: no display, no window on screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: the locks its own helper threads (the file
// dialog's, the thread pool's) take are invisible to it, and their hand-overs read as
// races. Calls from Qt are left out; the window and the worker meet only in code of
// ours (the worker mailbox), which is checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
#endif

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt wants a private runtime folder; a machine without a login session has none.
    // The one made here goes when the tests end, as everything a test makes does.
    std::string runtimeFolder;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "kestrel-window-tests-XXXXXX").string();
        if (mkdtemp(pattern.data())) {
            runtimeFolder = pattern;
            qputenv("XDG_RUNTIME_DIR", runtimeFolder.c_str());
        }
    }
    int status;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    if (!runtimeFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(runtimeFolder, ec);
    }
    return status;
}
