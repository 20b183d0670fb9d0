// SPDX-License-Identifier: MIT
// What the host video port costs: booting a machine (which loads a fresh
// driver image), a mode set, and the mode list, on the default machine.
#include <benchmark/benchmark.h>

#include "host/board/monitor.h"
#include "host/display/display_client.h"
#include "host/display/test_pattern.h"
#include "host/port/machine.h"

namespace {

using torvic::host::DisplayClient;
using torvic::host::Machine;

void BootDefaultMachine(benchmark::State &state) {
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): Google Benchmark's loop, value unused
    Machine m(torvic::host::default_machine());
    m.boot();
    m.open(0);
    m.open(1);
    benchmark::DoNotOptimize(m.trace().size());
  }
}
BENCHMARK(BootDefaultMachine)->Unit(benchmark::kMillisecond);

void SetMode1024x768x8(benchmark::State &state) {
  Machine m(torvic::host::default_machine());
  m.boot();
  DisplayClient client(m, 0);
  client.modes();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): Google Benchmark's loop, value unused
    m.clear_trace();
    benchmark::DoNotOptimize(client.set_mode(24));
  }
}
BENCHMARK(SetMode1024x768x8)->Unit(benchmark::kMicrosecond);

void QueryAvailableModes(benchmark::State &state) {
  Machine m(torvic::host::default_machine());
  m.boot();
  DisplayClient client(m, 1);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): Google Benchmark's loop, value unused
    m.clear_trace();
    benchmark::DoNotOptimize(client.modes());
  }
}
BENCHMARK(QueryAvailableModes)->Unit(benchmark::kMicrosecond);

// The default machine's second board, set to 1152 x 864 at 32 bits per pixel.
struct At1152x864x32 {
  At1152x864x32() : m(torvic::host::default_machine()), client(m, 1) {
    m.boot();
    for (const auto &candidate : client.modes())
      if (candidate.VisScreenWidth == 1152 && candidate.BitsPerPlane == 32) mode = candidate;
    client.set_mode(mode.ModeIndex);
  }
  Machine m;
  DisplayClient client;
  VIDEO_MODE_INFORMATION mode{};
};

void DrawDecodeAndRender1152x864x32(benchmark::State &state) {
  At1152x864x32 at;
  const auto memory = at.client.map_video_memory();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): Google Benchmark's loop, value unused
    torvic::host::draw_pattern(torvic::host::Pattern::Gradient, memory.frame, at.mode);
    const auto timing = torvic::host::decode_monitor(at.m.adapter_board(1));
    benchmark::DoNotOptimize(torvic::host::render_frame(at.m.adapter_board(1), timing));
  }
  at.client.unmap_video_memory(memory.ram);
}
BENCHMARK(DrawDecodeAndRender1152x864x32)->Unit(benchmark::kMillisecond);

// What a display driver does for each frame it shows in a new mode: map
// video memory, draw a whole frame, unmap.
void MapDrawUnmap1152x864x32(benchmark::State &state) {
  At1152x864x32 at;
  const torvic::host::PatternImage image(torvic::host::Pattern::Gradient, at.mode);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): Google Benchmark's loop, value unused
    const auto memory = at.client.map_video_memory();
    image.draw(memory.frame, at.mode.ScreenStride);
    at.client.unmap_video_memory(memory.ram);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * at.mode.ScreenStride * at.mode.VisScreenHeight);
}
BENCHMARK(MapDrawUnmap1152x864x32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
