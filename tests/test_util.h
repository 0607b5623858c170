// Helpers shared by the tests: temporary folders, whole-file reads and running the built tool.
#pragma once

#include <string>
#include <vector>

namespace testutil {

// A fresh folder under /tmp, removed with everything in it when the object goes. A temporary file
// of a destination (".NAME.XXXXXX") still in it or below it then fails the running test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// s written times times over.
std::string Repeat(const std::string &s, int times);

bool ReadFile(const std::string &path, std::string *contents);
bool WriteFile(const std::string &path, const std::string &contents);
std::vector<std::string> ListFolder(const std::string &path);

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string stdOut;
    std::string stdErr;
};

// Runs the program with the arguments; standard output and error are captured. The environment is
// inherited; extraEnv entries ("NAME=value") are added.
RunResult Run(const std::vector<std::string> &argv, const std::vector<std::string> &extraEnv = {});

// Says that the running test keeps CF objects or heap blocks for the process on purpose (what: why),
// so that they are not reported as left behind. Descriptors and registry handles are still checked.
void KeepsForProcess(const char *what);

// Validates an XML document against the tool's schema with xmllint; the message on failure.
bool ValidatesAgainstSchema(const std::string &document, std::string *message);

}  // namespace testutil
