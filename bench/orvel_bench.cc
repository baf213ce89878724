// Codec speed, side by side in one run: list encoding against a plain memcpy of the same bytes and
// against protobuf serialising the same records, and Order decoding against protobuf parsing an
// equivalent message. After Google Benchmark's own table it prints one line per figure,
// "bench <name> <value> <unit>", and one per comparison, "ratio <name> <value>" (our time over
// the other's: smaller is better).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orvel/frame.h"
#include "orvel_peer.pb.h"
#include "util/buffer_ptr.h"

namespace vexil {
namespace {

constexpr int kStatCount = 1000;
constexpr int kRegionCount = 100;
constexpr int kRegionValues = 272;
constexpr int kOrderCount = 10000;

std::string StatText(int i) {
  char text[17];
  std::snprintf(text, sizeof text, "stat-%011d", i);  // 16 bytes
  return text;
}

ConnectorMsg MakeStatList() {
  ConnectorMsg message(ConnectorTag::kStatListReply);
  auto& stats = message.As<StatListReply>()->stats;
  stats.resize(kStatCount);
  for (int i = 0; i < kStatCount; ++i) {
    const auto u = static_cast<uint32_t>(i);
    stats[i].ids = IdTriple(u, 7, u * 3);
    stats[i].value1 = u;
    stats[i].value2 = u * 2;
    stats[i].value3 = 100000 + u;
    stats[i].value4 = 0xFFFF0000u + u;
    stats[i].text = StatText(i);
  }
  return message;
}

ConnectorMsg MakeRegionList() {
  ConnectorMsg message(ConnectorTag::kRegionListReply);
  auto& regions = message.As<RegionListReply>()->regions;
  regions.resize(kRegionCount);
  for (int i = 0; i < kRegionCount; ++i) {
    regions[i].ids = IdTriple(static_cast<uint32_t>(i), 7, 9);
    regions[i].values.resize(kRegionValues);
    for (int v = 0; v < kRegionValues; ++v) regions[i].values[v] = i * 1000 - v;
  }
  return message;
}

Order MakeOrder(int i) {
  Order order;
  order.serial = static_cast<uint32_t>(i);
  order.name = "restart-service";
  order.ids = IdTriple(static_cast<uint32_t>(i), 7, 42);
  order.option = i % 5;
  order.argument = "12|x";
  order.context = "ctx-" + std::to_string(i);
  return order;
}

bench::PbStatListReply MakePbStatList(const StatListReply& stats) {
  bench::PbStatListReply reply;
  for (const StatInfo& stat : stats.stats) {
    bench::PbStatInfo* pb = reply.add_stats();
    pb->mutable_ids()->set_id_a(stat.ids.idA);
    pb->mutable_ids()->set_gsid(stat.ids.gsid);
    pb->mutable_ids()->set_id_b(stat.ids.idB);
    pb->set_value1(stat.value1);
    pb->set_value2(stat.value2);
    pb->set_value3(stat.value3);
    pb->set_value4(stat.value4);
    pb->set_text(stat.text);
  }
  return reply;
}

unsigned FrameSize(const ConnectorMsg& message) {
  BufferPtr buffer;
  WriteFrame(buffer, message);
  return buffer.Size();
}

void EncodeList(benchmark::State& state, const ConnectorMsg& message) {
  for (auto _ : state) {
    BufferPtr buffer;
    WriteFrame(buffer, message);
    benchmark::DoNotOptimize(buffer.Data());
    benchmark::ClobberMemory();
  }
}

// A plain copy of n bytes into freshly allocated memory.
void CopyBytes(benchmark::State& state, unsigned n) {
  const std::vector<uint8_t> source(n, 0x5A);
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> destination(new uint8_t[n]);
    std::memcpy(destination.get(), source.data(), n);
    benchmark::DoNotOptimize(destination.get());
    benchmark::ClobberMemory();
  }
}

void BM_StatEncode(benchmark::State& state) { EncodeList(state, MakeStatList()); }
void BM_StatMemcpy(benchmark::State& state) { CopyBytes(state, FrameSize(MakeStatList())); }
void BM_RegionEncode(benchmark::State& state) { EncodeList(state, MakeRegionList()); }
void BM_RegionMemcpy(benchmark::State& state) { CopyBytes(state, FrameSize(MakeRegionList())); }

void BM_StatEncodeProtobuf(benchmark::State& state) {
  const bench::PbStatListReply reply = MakePbStatList(*MakeStatList().As<StatListReply>());
  for (auto _ : state) {
    std::string out;
    reply.SerializeToString(&out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_OrderDecode(benchmark::State& state) {
  BufferPtr frames;
  for (int i = 0; i < kOrderCount; ++i)
    WriteFrame(frames, AgentMsg(AgentTag::kOrder, MakeOrder(i)));
  BufferPtr buffer;
  AgentMsg message;
  for (auto _ : state) {
    state.PauseTiming();
    buffer.Assign(frames);
    state.ResumeTiming();
    for (int i = 0; i < kOrderCount; ++i) {
      if (!ReadFrame(message, buffer)) state.SkipWithError("an Order frame did not decode");
    }
    benchmark::DoNotOptimize(message.As<Order>());
  }
}

void BM_OrderDecodeProtobuf(benchmark::State& state) {
  std::string bytes;
  std::vector<std::pair<size_t, size_t>> slices;  // offset and length of each message
  for (int i = 0; i < kOrderCount; ++i) {
    const Order order = MakeOrder(i);
    bench::PbOrder pb;
    pb.set_serial(order.serial);
    pb.set_name(order.name);
    pb.mutable_ids()->set_id_a(order.ids.idA);
    pb.mutable_ids()->set_gsid(order.ids.gsid);
    pb.mutable_ids()->set_id_b(order.ids.idB);
    pb.set_option(order.option);
    pb.set_argument(order.argument);
    pb.set_context(order.context);
    const size_t offset = bytes.size();
    pb.AppendToString(&bytes);
    slices.emplace_back(offset, bytes.size() - offset);
  }
  bench::PbOrder message;
  for (auto _ : state) {
    for (const auto& [offset, length] : slices) {
      if (!message.ParseFromArray(bytes.data() + offset, static_cast<int>(length))) {
        state.SkipWithError("an Order message did not parse");
      }
    }
    benchmark::DoNotOptimize(&message);
  }
}

BENCHMARK(BM_StatEncode);
BENCHMARK(BM_StatMemcpy);
BENCHMARK(BM_StatEncodeProtobuf);
BENCHMARK(BM_RegionEncode);
BENCHMARK(BM_RegionMemcpy);
BENCHMARK(BM_OrderDecode);
BENCHMARK(BM_OrderDecodeProtobuf);

// Keeps each benchmark's CPU time per iteration (steadier than wall time on a shared machine), in
// nanoseconds, beside the usual table.
class FigureReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the table goes to logs as often as to a terminal.
  FigureReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        ns_[run.benchmark_name()] = run.GetAdjustedCPUTime() *
                                    benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                                    benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Ns(const std::string& name) const {
    const auto it = ns_.find(name);
    return it == ns_.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> ns_;
};

void PrintFigures(const FigureReporter& r) {
  const struct {
    const char* name;
    const char* benchmark;
    double per;
    const char* unit;
  } figures[] = {
      {"stat_encode", "BM_StatEncode", kStatCount, "ns/record"},
      {"stat_memcpy", "BM_StatMemcpy", kStatCount, "ns/record"},
      {"stat_encode_protobuf", "BM_StatEncodeProtobuf", kStatCount, "ns/record"},
      {"region_encode", "BM_RegionEncode", kRegionCount, "ns/record"},
      {"region_memcpy", "BM_RegionMemcpy", kRegionCount, "ns/record"},
      {"order_decode", "BM_OrderDecode", kOrderCount, "ns/frame"},
      {"order_decode_protobuf", "BM_OrderDecodeProtobuf", kOrderCount, "ns/message"},
  };
  for (const auto& f : figures)
    std::printf("bench %s %.2f %s\n", f.name, r.Ns(f.benchmark) / f.per, f.unit);
  const struct {
    const char* name;
    const char* ours;
    const char* theirs;
    double target;  // the largest acceptable ratio
  } ratios[] = {
      {"stat_encode_vs_memcpy", "BM_StatEncode", "BM_StatMemcpy", 0},
      {"region_encode_vs_memcpy", "BM_RegionEncode", "BM_RegionMemcpy", 2.0},
      {"stat_encode_vs_protobuf", "BM_StatEncode", "BM_StatEncodeProtobuf", 0.5},
      {"order_decode_vs_protobuf", "BM_OrderDecode", "BM_OrderDecodeProtobuf", 0.5},
  };
  for (const auto& q : ratios) {
    const double theirs = r.Ns(q.theirs);
    const double ratio = theirs > 0 ? r.Ns(q.ours) / theirs : 0;
    std::printf("ratio %s %.3f", q.name, ratio);
    if (q.target > 0)
      std::printf("  (target <= %.1f: %s)", q.target, ratio <= q.target ? "met" : "missed");
    std::printf("\n");
  }
}

}  // namespace
}  // namespace vexil

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  vexil::FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  vexil::PrintFigures(reporter);
  return 0;
}
