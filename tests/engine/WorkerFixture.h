#pragma once
// A worker driven message by message on the test's own thread, over a scripted line.
#include <gtest/gtest.h>

#include <memory>

#include "engine/UIThread.h"
#include "tests/engine/EngineFakes.h"

class WorkerFixture : public ::testing::Test {
protected:
    WorkerFixture() {
        auto scripted = std::make_unique<ScriptedLine>(log);
        line = scripted.get();
        shared.AppFolder = lib.Folder();
        worker = std::make_unique<CUIThread>(shared, owner, owner, sleeper, HandOver(std::move(scripted)));
        worker->InitInstance();
    }

    void Send(uint32_t id, uint32_t wParam = 0, int64_t lParam = 0, std::string text = {}) {
        worker->Dispatch(ThreadMessage{id, wParam, lParam, std::move(text)});
    }
    void OpenPort(uint32_t port = 1, const std::string& settings = "115200,N,8,1") {
        Send(WM_OPEN_PORT, static_cast<uint32_t>(settings.size()), port, settings);
    }
    // The board's bytes arrive in one read, and the monitor reports them.
    void Arrive(std::vector<uint8_t> bytes, uint32_t port = 1) {
        line->Arrive(std::move(bytes));
        Send(WM_SERIAL_RECEIVE, port);
    }
    void Reply(uint8_t byte) { Arrive({byte}); }
    void Forget() {
        log.clear();
        owner.Clear();
    }
    void LoadFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        lib.WriteBytes(name, bytes);
        Send(WM_LOAD_FILE, 0, 0, lib.Path(name));
    }

    std::vector<std::vector<uint8_t>> Writes() const {
        std::vector<std::vector<uint8_t>> w;
        for (const auto& e : log)
            if (e.kind == LineEvent::Write)
                w.push_back(e.bytes);
        return w;
    }
    std::vector<std::string> Opens() const {
        std::vector<std::string> o;
        for (const auto& e : log)
            if (e.kind == LineEvent::Open)
                o.push_back(e.settings);
        return o;
    }
    std::vector<uint32_t> Sleeps() const {
        std::vector<uint32_t> s;
        for (const auto& e : log)
            if (e.kind == LineEvent::Sleep)
                s.push_back(e.ms);
        return s;
    }
    // The owner's log lines and progress values, each in order.
    std::vector<std::string> Logs() {
        std::vector<std::string> texts;
        for (const auto& p : owner.Posts())
            if (p.id == WM_WORKER_STATUS && p.wParam == STATUS_LOG_TEXT)
                texts.push_back(ParamText(p.lParam));
        return texts;
    }
    std::vector<int64_t> Progress() {
        std::vector<int64_t> values;
        for (const auto& p : owner.Posts())
            if (p.id == WM_WORKER_STATUS && p.wParam == STATUS_PROGRESS)
                values.push_back(p.lParam);
        return values;
    }
    // The kinds of line events in order, as a compact text such as "W S D C O".
    std::string Sequence() const {
        std::string s;
        for (const auto& e : log) {
            if (!s.empty())
                s += ' ';
            s += "OCWDS"[e.kind];
        }
        return s;
    }

    TempLibrary lib;
    EventLog log;
    RecordingSleeper sleeper{log};
    RecordingOwner owner;
    SharedState shared;
    ScriptedLine* line = nullptr;
    std::unique_ptr<CUIThread> worker;
};

inline std::vector<uint8_t> Repeat(uint8_t value, size_t n) { return std::vector<uint8_t>(n, value); }
