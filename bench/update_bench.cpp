// The cost of a whole recordable-drive update to the machine it runs on.
//
// WholeUpdate: the program's own CPU time for one update of a QXR-515L with a 2 MiB image, over a
// drive that answers at once (every latency 0), so that nothing but the program and the
// simulated transport is measured.
//
// WaitsSleep: the same update on a machine whose waits take real time, at a tenth of their length
// (the waits of one update then last 0.8 s). Process CPU time is taken across each of them; the
// counter wait_cpu_share is that CPU time over the waits' real length. Waits must sleep, not spin.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/global.h"
#include "driver/reflsh.h"
#include "sim/machine.h"
#include "sim/rig.h"
#include "sim/rw_drive.h"

namespace {

// A machine whose waits let real time pass and account for the CPU time used meanwhile.
class SleepingMachine : public sim::Machine {
 public:
  double waitCpuMs = 0;
  double waitRealMs = 0;
  int sleeps = 0;

  void SleepMs(DWORD ms) override {
    const double cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
    const double real = Now(CLOCK_MONOTONIC);
    sim::Machine::SleepMs(ms);
    waitCpuMs += Now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    waitRealMs += Now(CLOCK_MONOTONIC) - real;
    ++sleeps;
  }

 private:
  static double Now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  }
};

sim::RwConfig InstantDrive() {
  sim::RwConfig config;
  sim::RwLatency& l = config.latency;
  l.inquiry = l.testUnitReady = l.requestSense = l.readBuffer = l.reportKey = l.startStop = 0;
  l.toKernel = l.block = l.toNormal = l.reflash = l.other = 0;
  return config;
}

// A machine with one drive at 1.21 and the 1.22 image beside the program.
template <class M>
std::unique_ptr<M> Prepare() {
  auto m = std::make_unique<M>();
  sim::Rig rig(*m);
  rig.AddRw(InstantDrive());
  rig.WriteRwImage();
  return m;
}

// The program's main over `m`, from a clean process state, as a run from the prompt would be.
int Run(sim::Machine& m) {
  ResetGlobals();
  m.Install();
  std::string name = "reflsh";
  char* argv[] = {name.data(), nullptr};
  int code = ReflshMain(1, argv);
  m.Uninstall();
  return code;
}

void WholeUpdate(benchmark::State& state) {
  uint64_t blocks = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto m = Prepare<sim::Machine>();
    state.ResumeTiming();
    if (Run(*m) != 0) state.SkipWithError("the update failed");
    state.PauseTiming();
    blocks += m->Sent({0x3B, 0x07, 0xF0}).size();
    m.reset();
    state.ResumeTiming();
  }
  state.counters["blocks"] =
      benchmark::Counter(static_cast<double>(blocks), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 0x200000);
}
BENCHMARK(WholeUpdate)->Unit(benchmark::kMillisecond);

void WaitsSleep(benchmark::State& state) {
  double cpu = 0, real = 0, sleeps = 0, virtualWait = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto m = Prepare<SleepingMachine>();
    m->pace = 0.1;
    state.ResumeTiming();
    if (Run(*m) != 0) state.SkipWithError("the update failed");
    state.PauseTiming();
    cpu += m->waitCpuMs;
    real += m->waitRealMs;
    sleeps += m->sleeps;
    virtualWait += static_cast<double>(m->slept);
    m.reset();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["wait_cpu_share"] = real > 0 ? cpu / real : 0;
  state.counters["wait_cpu_ms"] = cpu / n;
  state.counters["wait_real_ms"] = real / n;
  state.counters["waited_virtual_ms"] = virtualWait / n;
  state.counters["sleeps"] = sleeps / n;
}
BENCHMARK(WaitsSleep)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
