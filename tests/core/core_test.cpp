// Prints, for every file in the folder it is given, the file's name and what the portable
// core decides from its bytes (decide.h); tests/core.py writes the files from the tables
// and compares.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "decide.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream file(entry.path(), std::ios::binary);
    std::string input(std::istreambuf_iterator<char>(file), {});
    std::string name = entry.path().filename().string();
    std::printf("%s %s\n", name.c_str(), quillmere::Decide(input).c_str());
  }
  return 0;
}
