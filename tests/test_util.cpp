// Test helpers: temporary folders, files, and running programs with captured output.
#include "test_util.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace testutil {

TempDir::TempDir() {
    char pattern[] = "/tmp/machineinfo-test.XXXXXX";
    const char *made = mkdtemp(pattern);
    path_ = made != nullptr ? made : "";
}

namespace {

// A destination's temporary file: ".NAME." and six more characters, as mkstemp makes it.
bool IsTemporaryName(const std::string &name) {
    return name.size() > 8 && name[0] == '.' && name[name.size() - 7] == '.';
}

// Fails the running test for every temporary file left in folder or below it.
void ExpectNoTemporaryFiles(const std::string &folder) {
    for (const std::string &name : ListFolder(folder)) {
        const std::string path = folder + "/" + name;
        EXPECT_FALSE(IsTemporaryName(name)) << "temporary file left behind: " << path;
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) ExpectNoTemporaryFiles(path);
    }
}

}  // namespace

TempDir::~TempDir() {
    if (path_.empty()) return;
    ExpectNoTemporaryFiles(path_);
    std::string command = "rm -rf '" + path_ + "'";
    if (system(command.c_str()) != 0) {
        // nothing more to do: the folder is under /tmp
    }
}

std::string Repeat(const std::string &s, int times) {
    std::string out;
    while (times-- > 0) out += s;
    return out;
}

bool ReadFile(const std::string &path, std::string *contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *contents = s.str();
    return true;
}

bool WriteFile(const std::string &path, const std::string &contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    return static_cast<bool>(out);
}

std::vector<std::string> ListFolder(const std::string &path) {
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) return names;
    while (dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

RunResult Run(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv) {
    RunResult result;
    TempDir captures;
    const std::string outPath = captures / "out", errPath = captures / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char **e = environ; *e != nullptr; ++e) envStrings.push_back(*e);
    for (const auto &e : extraEnv) envStrings.push_back(e);
    std::vector<char *> env;
    for (auto &e : envStrings) env.push_back(&e[0]);
    env.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return result;
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ReadFile(outPath, &result.stdOut);
    ReadFile(errPath, &result.stdErr);
    return result;
}

bool ValidatesAgainstSchema(const std::string &document, std::string *message) {
    TempDir dir;
    const std::string docPath = dir / "doc.xml";
    WriteFile(docPath, document);
    RunResult r = Run({"/usr/bin/xmllint", "--noout", "--schema", MACHINEINFO_SCHEMA, docPath});
    if (message != nullptr) *message = r.stdErr;
    return r.status == 0;
}

}  // namespace testutil
