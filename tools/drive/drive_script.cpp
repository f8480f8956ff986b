#include "drive_script.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "platform/win32/keyboard.h"

namespace {

struct Range {
    std::uint64_t from, to;
    std::set<int> keys;
};

bool ParseFrame(const std::string& text, std::uint64_t* frame) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    // Far more frames than any run: keeps "to + 1" below overflow.
    if (errno != 0 || *end != '\0' || v > 1000000000ull) return false;
    *frame = v;
    return true;
}

// One range "FROM-TO KEY ..." (comment already removed); blank is fine.
bool ParseRange(const std::string& entry, std::vector<Range>* ranges, std::string* error) {
    std::istringstream words(entry);
    std::string span;
    if (!(words >> span)) return true;
    std::size_t dash = span.find('-');
    Range range;
    if (dash == std::string::npos || !ParseFrame(span.substr(0, dash), &range.from) ||
        !ParseFrame(span.substr(dash + 1), &range.to)) {
        *error = "expected FROM-TO frame numbers, found \"" + span + "\"";
        return false;
    }
    if (range.to < range.from) {
        *error = "the range " + span + " ends before it starts";
        return false;
    }
    std::string name;
    while (words >> name) {
        int key = DriveKeyCode(name);
        if (!key) {
            *error = "unknown key \"" + name + "\" (keys: G F A Z S X Q W E V Left Right)";
            return false;
        }
        range.keys.insert(key);
    }
    ranges->push_back(std::move(range));
    return true;
}

// The frames where the held set may change are the starts of ranges and the
// frames after their ends; a sweep over them in order keeps, per key, how
// many ranges hold it, so long scripts stay linear.
void Build(const std::vector<Range>& ranges, DriveScript* script) {
    std::map<std::uint64_t, std::vector<std::pair<int, int>>> changes;  // frame -> (key, +1 | -1)
    script->keys.clear();
    script->empty = ranges.empty();
    script->lastFrame = 0;
    for (const Range& r : ranges) {
        script->lastFrame = std::max(script->lastFrame, r.to);
        auto& start = changes[r.from];
        auto& end = changes[r.to + 1];
        for (int key : r.keys) {
            start.emplace_back(key, +1);
            end.emplace_back(key, -1);
        }
    }
    std::map<int, int> holders;
    for (const auto& [frame, deltas] : changes) {
        for (const auto& [key, delta] : deltas)
            if ((holders[key] += delta) == 0) holders.erase(key);
        std::set<int>& held = script->keys[frame];
        for (const auto& entry : holders) held.insert(entry.first);
    }
}

bool Parse(const std::string& text, char separator, const char* unit, DriveScript* script, std::string* error) {
    std::vector<Range> ranges;
    std::istringstream in(text);
    std::string entry;
    int number = 0;
    while (std::getline(in, entry, separator)) {
        ++number;
        std::size_t hash = entry.find('#');
        if (hash != std::string::npos) entry.erase(hash);
        std::string why;
        if (!ParseRange(entry, &ranges, &why)) {
            *error = std::string(unit) + " " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    Build(ranges, script);
    return true;
}

}  // namespace

int DriveKeyCode(const std::string& name) {
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "LEFT") return VK_LEFT;
    if (upper == "RIGHT") return VK_RIGHT;
    static const std::string letters = "GFAZSXQWEV";
    if (upper.size() == 1 && letters.find(upper[0]) != std::string::npos) return upper[0];
    return 0;
}

bool ParseDriveScript(const std::string& text, DriveScript* script, std::string* error) {
    return Parse(text, '\n', "line", script, error);
}

bool ParseDriveKeys(const std::string& text, DriveScript* script, std::string* error) {
    return Parse(text, ';', "entry", script, error);
}
