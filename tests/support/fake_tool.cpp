// A stand-in for adb and scrcpy in tests. One binary serves every role: the test copies it into a
// temporary resources folder under the tool's name and writes a script next to it,
// "<name>.script". Every invocation appends its arguments to "<name>.journal", one line per call,
// separated by tabs.
//
// Script: rules tried in order; the first whose pattern matches the arguments (joined with single
// spaces, POSIX extended regular expression, whole string) runs its actions in order.
//   when <regex>           starts a rule
//   times <n>              the rule is used for its first n matching calls only
//   if <path>              the rule is used only while that file exists
//   out <text>             writes text + line feed to standard output ("\n", "\t", "\r", "\\" and
//                          "\xHH" are decoded)
//   outraw <text>          the same without the final line feed
//   err <text>             the same as out for standard error
//   outfile <path>         copies a file's bytes to standard output
//   touch <path>           creates that file (a later call's "if" sees it)
//   flood <bytes>          writes that many bytes ("x", with a line feed every 80) to both streams
//   keepenv <variable>     writes the variable's value (nothing when unset) to "<name>.<variable>"
//   sleep <ms>             pauses
//   ignore-term            ignores SIGTERM from here on
//   hang                   waits until a signal ends it
// While it waits for the outside (at "hang", or opening a named pipe for "outfile") it says so in
// "$SONAVEL_FAKE_IDLE_DIR/<pid>": its start time (field 22 of /proc/self/stat) and the pipe's
// path, if any. Tests move their virtual clock on only once every fake tool is idle
// (test_support.h).
//   crash                  aborts (killed by SIGABRT)
//   exit <n>               ends with status n (default 0 after the last action)
// A call that matches no rule exits 0 with no output.
#include <regex.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct Rule {
    std::string pattern, requiredFile;
    long times = -1;
    std::vector<std::pair<std::string, std::string>> actions;
};

static std::string decode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            c = s[++i];
            if (c == 'x' && i + 2 < s.size()) {
                c = static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else if (const auto k = std::string("ntr").find(c); k != std::string::npos) {
                c = "\n\t\r"[k];
            }
        }
        out += c;
    }
    return out;
}

static std::string startTime() {
    std::ifstream stat("/proc/self/stat");
    const std::string line(std::istreambuf_iterator<char>(stat), {});
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    return field;
}

static std::string idleMark() {
    const char* dir = getenv("SONAVEL_FAKE_IDLE_DIR");
    return dir ? std::string(dir) + "/" + std::to_string(getpid()) : std::string();
}

// Written whole under a temporary name, so that a reader never sees half of it.
static void markIdle(const std::string& waitingOn) {
    const std::string path = idleMark();
    if (!path.empty()) {
        std::ofstream(path + ".tmp") << startTime() << '\n' << waitingOn << '\n';
        rename((path + ".tmp").c_str(), path.c_str());
    }
}

static void markBusy() {
    if (const std::string path = idleMark(); !path.empty()) {
        unlink(path.c_str());
    }
}

static bool matches(const std::string& pattern, const std::string& text) {
    regex_t re;
    if (regcomp(&re, ("^(" + pattern + ")$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
        return false;
    }
    const bool ok = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
    regfree(&re);
    return ok;
}

int main(int argc, char** argv) {
    // Ends with the test that started it, also when that test crashed or was killed: a stand-in
    // that ignores SIGTERM would otherwise live on under init.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    setvbuf(stdout, nullptr, _IONBF, 0);  // what was written is out before a hang or crash
    const auto put = [](FILE* to, const std::string& data) {
        fwrite(data.data(), 1, data.size(), to);
    };
    const std::string self = argv[0];
    std::string joined, entry;
    for (int i = 1; i < argc; ++i) {
        joined += (i > 1 ? " " : "") + std::string(argv[i]);
        entry += (i > 1 ? "\t" : "") + std::string(argv[i]);
    }

    std::vector<Rule> rules;
    std::ifstream script(self + ".script");
    for (std::string line; std::getline(script, line);) {
        const auto space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "when") {
            rules.push_back({rest, {}, -1, {}});
        } else if (!rules.empty() && word == "times") {
            rules.back().times = std::stol(rest);
        } else if (!rules.empty() && word == "if") {
            rules.back().requiredFile = rest;
        } else if (!rules.empty()) {
            rules.back().actions.emplace_back(word, rest);
        }
    }

    // Counts per rule live in "<name>.counts", read and written under the journal's lock so that
    // parallel calls (the application runs several adb commands at once) see each other's use.
    FILE* journal = fopen((self + ".journal").c_str(), "a");
    flock(fileno(journal), LOCK_EX);
    fputs((entry + '\n').c_str(), journal);
    std::vector<long> counts(rules.size());
    std::ifstream countsIn(self + ".counts");
    for (size_t i = 0; i < counts.size() && countsIn >> counts[i]; ++i) {
    }
    const Rule* chosen = nullptr;
    for (size_t i = 0; i < rules.size() && !chosen; ++i) {
        const Rule& r = rules[i];
        if (matches(r.pattern, joined) &&
            (r.requiredFile.empty() || access(r.requiredFile.c_str(), F_OK) == 0) &&
            (r.times < 0 || counts[i] < r.times)) {
            ++counts[i];
            chosen = &r;
        }
    }
    std::ofstream countsOut(self + ".counts", std::ios::trunc);
    for (const long count : counts) {
        countsOut << count << '\n';
    }
    countsOut.close();
    fclose(journal);  // releases the lock
    if (!chosen) {
        return 0;
    }

    for (const auto& [word, arg] : chosen->actions) {
        if (word == "out" || word == "outraw" || word == "err") {
            put(word == "err" ? stderr : stdout, decode(arg) + (word == "outraw" ? "" : "\n"));
        } else if (word == "outfile") {
            struct stat info {};
            const bool pipe = stat(arg.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
            if (pipe) {
                markIdle(arg);
            }
            std::ifstream file(arg, std::ios::binary);  // a pipe's open waits for its writer
            if (pipe) {
                markBusy();
            }
            put(stdout, std::string(std::istreambuf_iterator<char>(file), {}));
        } else if (word == "touch") {
            std::ofstream created(arg, std::ios::app);
        } else if (word == "flood") {
            std::string data(std::stoul(arg) / 80 * 80, 'x');
            for (size_t i = 79; i < data.size(); i += 80) {
                data[i] = '\n';
            }
            std::thread err([&] { put(stderr, data); });
            put(stdout, data);
            err.join();
        } else if (word == "keepenv") {
            const char* value = getenv(arg.c_str());
            std::ofstream(self + "." + arg) << (value ? value : "");
        } else if (word == "sleep") {
            usleep(static_cast<useconds_t>(std::stoul(arg) * 1000));
        } else if (word == "ignore-term") {
            signal(SIGTERM, SIG_IGN);
        } else if (word == "hang") {
            markIdle("");
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
