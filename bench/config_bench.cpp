// The configuration is read once at start-up and written when the operator
// saves the settings; these figures show that neither is worth optimising,
// and what the server rotation costs the TCP session per failed connection.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "config/AppConfig.h"
#include "platform/UiHost.h"

namespace {

class SilentUiHost : public platform::UiHost {
  public:
    platform::BoxResult messageBox(const platform::MessageBoxRequest& r) override {
        return r.defaultResult;
    }
};

struct Station {
    Station() {
        char tmpl[] = "/tmp/tavrel-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        paths = ConfigPaths::ForProgramDir(dir);
        platform::SetUiHost(&ui);
        conf.usrId = "0105";
        conf.AuthID = "AB345678901234";
        conf.rcvFGKCJXX = 1;
        conf.szDefaultDataPath = "/data/行情";
        for (std::string* p : {&conf.NQHQ_File, &conf.NQXYXX_File, &conf.NQZSXX_File,
                               &conf.NQXX_File, &conf.NQFGKSBXX_File, &conf.NQFGKCJXX_File,
                               &conf.szTYBulletinPath, &conf.szTYOpenFlagFile})
            *p = "/data/行情/NQInfo/TABLE.DBF";
        std::vector<ServerInfo> servers;
        for (int i = 0; i < 20; ++i)
            servers.push_back(ServerInfo{"", "10.0.0." + std::to_string(i), 7006, "服务器"});
        conf.serverInfos.setList(0, servers);
        conf.serverInfos.setList(1, servers);
        conf.szLogPath = CRcvConf::LogPathFor(dir);
    }
    ~Station() {
        platform::SetUiHost(nullptr);
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string dir;
    ConfigPaths paths;
    CRcvConf conf;
    SilentUiHost ui;
};

void BM_SaveConfig(benchmark::State& state) {
    Station s;
    for (auto _ : state) benchmark::DoNotOptimize(SaveConfig(s.conf, s.paths));
}
BENCHMARK(BM_SaveConfig)->Unit(benchmark::kMicrosecond);

void BM_LoadConfig(benchmark::State& state) {
    Station s;
    SaveConfig(s.conf, s.paths);
    for (auto _ : state) {
        CRcvConf conf;
        int lastFileError = 0;
        benchmark::DoNotOptimize(LoadConfig(conf, s.paths, lastFileError));
    }
}
BENCHMARK(BM_LoadConfig)->Unit(benchmark::kMicrosecond);

void BM_AdvanceAndCurrent(benchmark::State& state) {
    Station s;
    ServerInfos rotation = s.conf.serverInfos;
    int advancedOnce = 0;
    for (auto _ : state) {
        rotation.advance(advancedOnce);
        benchmark::DoNotOptimize(rotation.current());
    }
}
BENCHMARK(BM_AdvanceAndCurrent);

}  // namespace
BENCHMARK_MAIN();
