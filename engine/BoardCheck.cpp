#include "engine/BoardCheck.h"

#include "engine/BoardResult.h"
#include "engine/JsonText.h"

BoardCheck::BoardCheck(const CheckRule& r, Clock::time_point now) : rule(r), began(now), deadline(now + r.within) {}

void BoardCheck::Take(const uint8_t* bytes, size_t count) {
    if (state != State::Listening)
        return;
    const size_t room = BoardResult::kConsoleBytes - std::min(heard.size(), BoardResult::kConsoleBytes);
    heard.append(reinterpret_cast<const char*>(bytes), std::min(count, room));
    for (size_t i = 0; i < count && state == State::Listening; ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            Judge(line);
            line.clear();
            continue;
        }
        line += c;
        if (line.size() >= kLongestLine) {
            Judge(line);
            line.clear();
        }
    }
}

void BoardCheck::Judge(const std::string& text) {
    try {
        if (rule.failOn && std::regex_search(text, *rule.failOn)) {
            state = State::Failed;
            why = "the firmware printed \"" + text + "\", which matches --fail-on '" + rule.failOnText + "'";
            return;
        }
        if (rule.expect && !expectHeard && std::regex_search(text, *rule.expect)) {
            expectHeard = true;
            why = "the firmware printed \"" + text + "\", which matches --expect '" + rule.expectText + "'";
            // A fail pattern may still come later in the banner: listen to its end.
            if (!rule.failOn)
                state = State::Passed;
        }
    } catch (const std::regex_error& e) {
        state = State::Failed;
        why = std::string("the check could not judge a line of the firmware: ") + e.what();
    }
}

BoardCheck::State BoardCheck::Decide(Clock::time_point now) {
    if (state == State::Listening && now >= deadline) {
        if (!line.empty()) {
            Judge(line);
            line.clear();
        }
    }
    if (state == State::Listening && now >= deadline) {
        if (rule.expect && !expectHeard) {
            state = State::Failed;
            why = "the firmware printed no line matching --expect '" + rule.expectText + "' within " +
                  JsonSeconds(std::chrono::duration<double>(rule.within).count()) + " s";
        } else {
            state = State::Passed;
            if (why.empty())
                why = "the firmware printed no line matching --fail-on '" + rule.failOnText + "'";
        }
    }
    if (state != State::Listening && !endedAt)
        endedAt = std::min(now, deadline);
    return state;
}

double BoardCheck::SecondsListened(Clock::time_point now) const {
    return std::chrono::duration<double>(endedAt.value_or(now) - began).count();
}
