// Decoding a stream of state packets carrying all seven unit groups (eight
// 4-byte words each) through the frame state machine and the dispatcher;
// and the same with the state notifications the receive thread posts, with
// no state handler set and with one that does nothing.
#include <algorithm>
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "dispatch/dispatch.h"
#include "state/receive.h"

namespace {

std::vector<uint8_t> Frame(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f{0xFE, static_cast<uint8_t>(body.size() + 2), 0x00};
  f.insert(f.end(), body.begin(), body.end());
  unsigned s = 0;
  for (uint8_t b : f) s += b;
  f.push_back(static_cast<uint8_t>(s));
  return f;
}

// The seven unit groups, in packets of at most three units each (a frame
// carries at most 125 body bytes).
std::vector<uint8_t> Stream() {
  auto unit = [](int u) {
    std::vector<uint8_t> b{0xFF, 0x28};
    for (int w = 0; w < 8; ++w) {
      // CHIPSTATUS word 7 carries a current engine version (2.07).
      const uint32_t v = (u == 0 && w == 7) ? 0x04012736u : static_cast<uint32_t>(u * 0x1000 + w * 0x10 + 1);
      for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
    }
    return b;
  };
  std::vector<uint8_t> out;
  auto add = [&](uint8_t mask, std::initializer_list<int> units) {
    std::vector<uint8_t> body{0x0B, mask};
    for (int u : units) {
      auto x = unit(u);
      body.insert(body.end(), x.begin(), x.end());
    }
    auto f = Frame(body);
    out.insert(out.end(), f.begin(), f.end());
  };
  add(0x07, {0, 1, 2});  // CHIPSTATUS, AXISSTATUS, CURPOS
  add(0x18, {3, 4});     // ENCPOS, CURVEL
  add(0x20, {5, 6});     // GIO, EXTIO
  return out;
}

struct NoEvents : voxa::ReceiveEvents {
  void OnComplete(uint32_t) override {}
  void OnEventPacket(uint32_t) override {}
};

void BM_DecodeStatePackets(benchmark::State& state) {
  std::vector<uint8_t> one = Stream();
  std::vector<uint8_t> stream;
  for (int k = 0; k < 256; ++k) stream.insert(stream.end(), one.begin(), one.end());
  voxa::StateMirror m;
  m.SetRegWord(voxa::CHIPSTATUS, 7, 0x7000);  // a current engine: no host limit check
  voxa::PacketCounters c;
  NoEvents ev;
  voxa::FrameParser parser;
  for (auto _ : state) {
    parser.FeedBlock(stream.data(), stream.size(),
                     [&](const voxa::RxFrame& f) { benchmark::DoNotOptimize(voxa::DispatchFrame(m, c, &ev, f)); });
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_DecodeStatePackets)->MinTime(2.0);

void VOXA_CALL DoNothing(int, uint32_t, uint64_t) {}

// As the receive thread does it: decode, then post what each packet updated.
// Arg 0: no state handler; 1: a handler that does nothing.
void BM_DecodeAndNotify(benchmark::State& state) {
  std::vector<uint8_t> one = Stream();
  std::vector<uint8_t> stream;
  for (int k = 0; k < 256; ++k) stream.insert(stream.end(), one.begin(), one.end());
  voxa::StateMirror m;
  m.SetRegWord(voxa::CHIPSTATUS, 7, 0x7000);
  voxa::PacketCounters c;
  NoEvents ev;
  voxa::FrameParser parser;
  voxa::dispatch::StateBatch batch;
  voxa::dispatch::SetStateHandler(state.range(0) ? &DoNothing : nullptr);
  for (auto _ : state) {
    const uint64_t now_us = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    // In blocks of 4096 bytes, as the receive thread takes them; the notes
    // go to the dispatch thread when the batch is full and when the burst
    // ends, with one wake.
    for (size_t at = 0; at < stream.size(); at += 4096) {
      const bool notify = voxa::dispatch::StateOn();
      parser.FeedBlock(stream.data() + at, std::min<size_t>(4096, stream.size() - at), [&](const voxa::RxFrame& f) {
        uint32_t updated = 0;
        benchmark::DoNotOptimize(voxa::DispatchFrame(m, c, &ev, f, &updated));
        if (updated != 0 && notify) batch.Add(0, updated, now_us);
      });
    }
    batch.Flush(0, true);
  }
  voxa::dispatch::SetStateHandler(nullptr);
  voxa::dispatch::Drain();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_DecodeAndNotify)->Arg(0)->Arg(1)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
