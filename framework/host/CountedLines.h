// Lines said once each, in the order first seen, with how often each came: a soak repeats the same
// finding pass after pass, and the reader wants it once, with its count.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarnhost {

class CCountedLines {
public:
    void Add(const std::string& line) {
        for (auto& item : m_items) {
            if (item.first == line) {
                ++item.second;
                return;
            }
        }
        m_items.emplace_back(line, 1u);
    }

    const std::vector<std::pair<std::string, unsigned>>& Items() const { return m_items; }

    // What follows a line that came more than once: "(3 times)".
    static std::string Times(unsigned count) { return "(" + std::to_string(count) + " times)"; }

private:
    std::vector<std::pair<std::string, unsigned>> m_items;
};

} // namespace tarnhost
