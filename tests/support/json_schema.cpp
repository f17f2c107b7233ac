// Schema checks of JSON output; see json_schema.h.
#include "tests/support/json_schema.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/support/support.h"

namespace quillon::test {

std::vector<std::string> SchemaProblems(
    const std::vector<std::pair<std::string, std::string>>& items) {
  const std::string source = QUILLON_SOURCE_DIR;
  const auto dir = std::filesystem::temp_directory_path() / UniqueName("quillon-schema");
  std::filesystem::create_directories(dir);
  // Debian's python3 has python3-jsonschema (scripts/deps.sh); another one
  // first in PATH may not.
  std::string command = ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  command += " " + source + "/scripts/validate-json.py";
  std::vector<std::string> paths;
  for (size_t i = 0; i < items.size(); ++i) {
    const auto path = dir / (std::to_string(i) + ".json");
    std::ofstream(path, std::ios::binary) << items[i].second;
    paths.push_back(path.string());
    command += " " + source + "/docs/schema/" + items[i].first + ".json " + path.string();
  }
  std::string out;
  Run(command + " 2>&1", &out);
  std::filesystem::remove_all(dir);
  std::map<std::string, std::string> verdicts;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string rest = line.substr(tab + 1);
    verdicts[line.substr(0, tab)] = rest.rfind("ok\t", 0) == 0 ? std::string() : rest;
  }
  std::vector<std::string> problems;
  for (const auto& path : paths) {
    const auto it = verdicts.find(path);
    problems.push_back(it != verdicts.end() ? it->second
                                            : "validator gave no verdict: " + out);
  }
  return problems;
}

std::string SchemaProblems(const std::string& schema, const std::string& text) {
  return SchemaProblems({{schema, text}}).front();
}

}  // namespace quillon::test
