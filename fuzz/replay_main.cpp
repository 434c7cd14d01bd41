// Runs a fuzz target over the files of its corpus, for builds without
// libFuzzer: the corpus becomes a regression test of the normal suite.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int inputs = 0;
  for (int a = 1; a < argc; ++a) {
    std::vector<fs::path> files;
    if (fs::is_directory(argv[a])) {
      for (const auto& e : fs::directory_iterator(argv[a]))
        if (e.is_regular_file()) files.push_back(e.path());
    } else {
      files.emplace_back(argv[a]);
    }
    for (const fs::path& p : files) {
      std::ifstream in(p, std::ios::binary);
      if (!in) {
        // The path's own characters on every system (wide on Windows).
        std::fprintf(stderr, "cannot read %s\n", reinterpret_cast<const char*>(p.u8string().c_str()));
        return 1;
      }
      const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++inputs;
    }
  }
  std::printf("%d inputs ran\n", inputs);
  return inputs > 0 ? 0 : 1;
}
