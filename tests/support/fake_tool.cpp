// A stand-in for adb and scrcpy in tests. One binary serves every role: the test copies it into a
// temporary resources folder under the tool's name and writes a script next to it,
// "<name>.script". Every invocation is appended to "<name>.journal", one line per call:
//   <milliseconds since the epoch> TAB <pid> TAB <argument 1> TAB <argument 2> ...
//
// Script: rules tried in order; the first whose pattern matches the arguments (joined with single
// spaces, POSIX extended regular expression, whole string) runs its actions in order.
//   when <regex>           starts a rule
//   times <n>              the rule is used for its first n matching calls only
//   if <path>              the rule is used only while that file exists
//   out <text>             writes text + line feed to standard output ("\n", "\t", "\\" and
//                          "\xHH" are decoded)
//   outraw <text>          the same without the final line feed
//   err <text> / errraw    the same for standard error
//   outfile <path>         copies a file's bytes to standard output
//   touch <path>           creates that file (a later call's "if" sees it)
//   flood <bytes>          writes that many bytes ("x", with a line feed every 80) to both streams
//   keepenv <variable>     writes the variable's value (nothing when unset) to "<name>.<variable>"
//   sleep <ms>             pauses
//   ignore-term            ignores SIGTERM from here on
//   hang                   waits until a signal ends it
//   crash                  aborts (killed by SIGABRT)
//   exit <n>               ends with status n (default 0 after the last action)
// A call that matches no rule exits 0 with no output.
#include <fcntl.h>
#include <regex.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Rule {
    std::string pattern;
    long times = -1;
    std::string requiredFile;
    std::vector<std::pair<std::string, std::string>> actions;
};

std::string decode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        if (c == 'n') {
            out += '\n';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'r') {
            out += '\r';
        } else if (c == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<Rule> readScript(const std::string& path) {
    std::vector<Rule> rules;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "when") {
            rules.push_back(Rule{rest, -1, {}, {}});
        } else if (!rules.empty() && word == "times") {
            rules.back().times = std::stol(rest);
        } else if (!rules.empty() && word == "if") {
            rules.back().requiredFile = rest;
        } else if (!rules.empty()) {
            rules.back().actions.emplace_back(word, rest);
        }
    }
    return rules;
}

bool matches(const std::string& pattern, const std::string& text) {
    regex_t re;
    if (regcomp(&re, ("^(" + pattern + ")$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
        return false;
    }
    const bool ok = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
    regfree(&re);
    return ok;
}

void writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// Counts per rule live in "<name>.counts", updated under the journal's lock so that parallel
// calls (the application runs several adb commands at once) see each other's use.
std::map<size_t, long> readCounts(const std::string& path) {
    std::map<size_t, long> counts;
    std::ifstream in(path);
    size_t rule;
    long count;
    while (in >> rule >> count) {
        counts[rule] = count;
    }
    return counts;
}

void writeCounts(const std::string& path, const std::map<size_t, long>& counts) {
    std::ofstream out(path, std::ios::trunc);
    for (const auto& [rule, count] : counts) {
        out << rule << ' ' << count << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string self = argv[0];
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        joined += (i > 1 ? " " : "") + std::string(argv[i]);
    }

    const std::vector<Rule> rules = readScript(self + ".script");
    const Rule* chosen = nullptr;
    {
        const int lock = open((self + ".journal").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        flock(lock, LOCK_EX);
        std::ostringstream entry;
        entry << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count()
              << '\t' << getpid();
        for (int i = 1; i < argc; ++i) {
            entry << '\t' << argv[i];
        }
        entry << '\n';
        writeAll(lock, entry.str());

        auto counts = readCounts(self + ".counts");
        for (size_t i = 0; i < rules.size(); ++i) {
            if (!matches(rules[i].pattern, joined) ||
                (!rules[i].requiredFile.empty() &&
                 access(rules[i].requiredFile.c_str(), F_OK) != 0)) {
                continue;
            }
            if (rules[i].times >= 0 && counts[i] >= rules[i].times) {
                continue;
            }
            ++counts[i];
            chosen = &rules[i];
            break;
        }
        writeCounts(self + ".counts", counts);
        flock(lock, LOCK_UN);
        close(lock);
    }
    if (!chosen) {
        return 0;
    }

    for (const auto& [word, arg] : chosen->actions) {
        if (word == "out") {
            writeAll(1, decode(arg) + "\n");
        } else if (word == "outraw") {
            writeAll(1, decode(arg));
        } else if (word == "err") {
            writeAll(2, decode(arg) + "\n");
        } else if (word == "errraw") {
            writeAll(2, decode(arg));
        } else if (word == "outfile") {
            std::ifstream file(arg, std::ios::binary);
            std::stringstream data;
            data << file.rdbuf();
            writeAll(1, data.str());
        } else if (word == "touch") {
            std::ofstream created(arg, std::ios::app);
        } else if (word == "flood") {
            std::string chunk(80, 'x');
            chunk.back() = '\n';
            const long total = std::stol(arg);
            std::string data;
            data.reserve(static_cast<size_t>(total));
            while (static_cast<long>(data.size()) + 80 <= total) {
                data += chunk;
            }
            std::thread err([&] { writeAll(2, data); });
            writeAll(1, data);
            err.join();
        } else if (word == "keepenv") {
            const char* value = getenv(arg.c_str());
            std::ofstream(self + "." + arg, std::ios::trunc) << (value ? value : "");
        } else if (word == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(arg)));
        } else if (word == "ignore-term") {
            signal(SIGTERM, SIG_IGN);
        } else if (word == "hang") {
            for (;;) {
                pause();
            }
        } else if (word == "crash") {
            abort();
        } else if (word == "exit") {
            return std::atoi(arg.c_str());
        }
    }
    return 0;
}
