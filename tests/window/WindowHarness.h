#pragma once
// The main dialog with its operator played by the test: file choosers answered from a
// script, message boxes recorded and dismissed, every request to the worker seen, and
// a library folder of its own whose com1 is a pseudo-terminal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

#include "console/FileChooser.h"
#include "console/MainDlg.h"
#include "console/MessageBoxes.h"
#include "engine/SharedState.h"
#include "engine/Sleeper.h"
#include "tests/support/Pty.h"

namespace window_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The protocol's pauses take no time; a test may hold the worker in the first pause of
// a given length until it lets it go (to act while the worker is between two steps).
class NoPause : public ISleeper {
public:
    void SleepMs(uint32_t ms) override {
        std::unique_lock lock(mutex);
        if (ms != holdAt)
            return;
        holdAt = 0;
        held = true;
        changed.wait(lock, [&] { return !held; });
    }
    void HoldAt(uint32_t ms) {
        std::lock_guard lock(mutex);
        holdAt = ms;
    }
    bool Holding() {
        std::lock_guard lock(mutex);
        return held;
    }
    void Release() {
        std::lock_guard lock(mutex);
        held = false;
        changed.notify_all();
    }
    ~NoPause() override { Release(); }

private:
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t holdAt = 0;
    bool held = false;
};

class ScriptedChooser : public IFileChooser {
public:
    std::vector<std::string> ChooseFilesToOpen(QWidget*, const std::string& filter) override {
        filters.push_back(filter);
        return Pop(openAnswers);
    }
    std::string ChooseFileToSave(QWidget*, const std::string& initialName, const std::string& filter) override {
        filters.push_back(filter);
        initialNames.push_back(initialName);
        return Pop(saveAnswers);
    }
    std::deque<std::vector<std::string>> openAnswers;  // empty: cancelled
    std::deque<std::string> saveAnswers;
    std::vector<std::string> filters, initialNames;

private:
    template <typename T>
    static T Pop(std::deque<T>& answers) {
        if (answers.empty())
            return {};
        T answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

struct ShownBox {
    std::string text, caption;
    BoxIcon icon;
};

class RecordingBoxes : public IMessageBoxes {
public:
    void Show(QWidget*, const std::string& text, const std::string& caption, BoxIcon icon) override {
        if (onShow)
            onShow();
        shown.push_back({text, caption, icon});
    }
    bool Ask(QWidget*, const std::string& text, const std::string& caption) override {
        asked.push_back({text, caption, BoxIcon::Warning});
        if (answers.empty())
            return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    // The texts of the boxes shown so far, first line only.
    std::vector<std::string> Titles() const {
        std::vector<std::string> titles;
        for (const auto& box : shown)
            titles.push_back(box.text.substr(0, box.text.find('\n')));
        return titles;
    }
    std::vector<ShownBox> shown;
    std::vector<ShownBox> asked;
    std::deque<bool> answers;  // the operator's answers to the questions; none left: No
    std::function<void()> onShow;  // called as each box is shown
};

// Handles the window's events until the condition holds or a generous limit passes.
template <typename Condition>
bool WaitForUi(Condition condition, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        work = fs::temp_directory_path() / ("kestrel-window-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work);
        fs::create_directories(work);
        fs::copy(BinFolder() + "/Lib", Lib());
        WriteSettings("[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
        shared.LibFolder = Lib();
    }
    ~WindowTest() override {
        dlg.reset();
        fs::remove_all(work);
    }

    static std::string BinFolder() { return QCoreApplication::applicationDirPath().toStdString(); }
    static std::string Sample(const std::string& name) { return std::string(KESTREL_SOURCE_DIR) + "/res/samples/" + name; }
    std::string Work(const std::string& name) const { return (work / name).string(); }
    std::string Lib() const { return Work("Lib"); }
    std::string SettingsPath() const { return Lib() + "/M850T.ini"; }
    void WriteSettings(const std::string& text) const { std::ofstream(SettingsPath(), std::ios::binary | std::ios::trunc) << text; }

    // Opens the dialog; port numbers mean devices through [PORTS] unless `makeLine`
    // gives the worker a line of the test's own.
    CMainDlg& OpenDialog(LineFactory makeLine = {}) {
        MainDlgServices services;
        services.files = &files;
        services.boxes = &boxes;
        services.sleeper = &sleeper;
        services.versionText = QStringLiteral("V1.003 Build 08032116");
        services.showAbout = [this](QWidget*) { ++aboutBoxes; };
        services.makeLine = std::move(makeLine);
        // Requests are posted from the worker's thread too (the next file of a batch).
        services.onPost = [this](const ThreadMessage& m) {
            std::lock_guard lock(postsMutex);
            posts.push_back(m);
        };
        dlg = std::make_unique<CMainDlg>(shared, std::move(services));
        return *dlg;
    }

    std::vector<ThreadMessage> Posts(uint32_t id) const {
        std::lock_guard lock(postsMutex);
        std::vector<ThreadMessage> found;
        for (const auto& m : posts)
            if (m.id == id)
                found.push_back(m);
        return found;
    }
    QListWidget* ListBox(int id) const { return static_cast<QListWidget*>(dlg->GetDlgItem(id)); }
    QComboBox* DropDown(int id) const { return static_cast<QComboBox*>(dlg->GetDlgItem(id)); }
    QPushButton* Button(int id) const { return static_cast<QPushButton*>(dlg->GetDlgItem(id)); }
    std::vector<std::string> Items(int id) const {
        std::vector<std::string> items;
        for (int i = 0; i < ListBox(id)->count(); ++i)
            items.push_back(ListBox(id)->item(i)->text().toStdString());
        return items;
    }
    // The operator picks item `index` of a drop-down list.
    void Choose(int id, int index) {
        DropDown(id)->setCurrentIndex(index);
        emit DropDown(id)->activated(index);
    }
    // Until the window's requests are done (BusyFlag alone drops between two files)
    // and what the worker said of them is shown: the session has raised every event
    // of a request before it is no longer busy.
    void WaitUntilIdle() {
        ASSERT_TRUE(WaitForUi([&] { return !dlg->Busy(); }));
        QCoreApplication::processEvents();
    }

    fs::path work;
    TestPty pty;  // com1
    SharedState shared;
    ScriptedChooser files;
    RecordingBoxes boxes;
    NoPause sleeper;
    mutable std::mutex postsMutex;
    std::vector<ThreadMessage> posts;
    int aboutBoxes = 0;
    std::unique_ptr<CMainDlg> dlg;
};

}  // namespace window_test
