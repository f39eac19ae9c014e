// Reading a settings profile of many short sections, one key each, with the program's own
// section last: the INI reader alone, and LoadSettings on a profile file in a scratch
// XDG_CONFIG_HOME (its lock, the file read and the lookups of every key). The fitted
// complexity lines show whether the time grows linearly with the number of sections.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/ini_file.h"
#include "app/settings_profile.h"

namespace {

namespace fs = std::filesystem;

std::string ProfileOfSections(int64_t sections) {
  std::string text;
  for (int64_t i = 0; i < sections; ++i) {
    text += "[section" + std::to_string(i) + "]\nkey=value\n";
  }
  return text + "[Settings]\nTitle=Fish and chips\nURL=http://example.com/\n";
}

void BM_ParseProfile(benchmark::State& state) {
  const std::string text = ProfileOfSections(state.range(0));
  for (auto _ : state) {
    tollwick::IniFile ini;
    ini.parse(text);
    benchmark::DoNotOptimize(ini.find("Settings/Title"));
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseProfile)
    ->Arg(1000)->Arg(20000)->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// A profile folder of this process's own, removed afterwards.
class ScratchConfigHome {
 public:
  ScratchConfigHome() {
    dir_ = fs::temp_directory_path() / ("profile_bench." + std::to_string(getpid()));
    fs::create_directories(dir_ / "Brindlewood");
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  ~ScratchConfigHome() { fs::remove_all(dir_); }
  ScratchConfigHome(const ScratchConfigHome&) = delete;
  ScratchConfigHome& operator=(const ScratchConfigHome&) = delete;

  void writeProfile(const std::string& text) const {
    std::ofstream(dir_ / "Brindlewood" / "Tollwick.conf", std::ios::binary | std::ios::trunc)
        << text;
  }

 private:
  fs::path dir_;
};

void BM_LoadSettings(benchmark::State& state) {
  ScratchConfigHome home;
  home.writeProfile(ProfileOfSections(state.range(0)));
  for (auto _ : state) {
    tollwick::SitemapFields fields;
    tollwick::LoadSettings(fields);
    benchmark::DoNotOptimize(fields.title);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadSettings)
    ->Arg(1000)->Arg(20000)->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
