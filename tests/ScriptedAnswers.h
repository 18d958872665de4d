#pragma once

#include <deque>
#include <vector>

#include "Message.h"

namespace fbx::test {

// The operator of a test: answers message boxes from a script (OK, or Yes
// for Yes/No, when nothing is queued) and remembers what was asked.
struct ScriptedAnswers {
    std::deque<Answer> answers;
    std::vector<Message> asked;

    Answer answer(const Message& m) {
        asked.push_back(m);
        if (!answers.empty()) {
            Answer a = answers.front();
            answers.pop_front();
            return a;
        }
        return m.buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
};

}  // namespace fbx::test
