// Writes the seed corpus of orvel_frame_fuzz into the folder given as the only argument: one file
// per tag of each direction holding a valid frame with non-empty fields, and one file with every
// agent frame back to back. Each file starts with the fuzzer's chunk-size byte.
#include <cstdint>
#include <cstdio>
#include <string>

#include "orvel/frame.h"
#include "util/buffer_ptr.h"

namespace vexil {
namespace {

bool WriteSeed(const std::string& path, uint8_t chunk_seed, const BufferPtr& frames) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fputc(chunk_seed, file) != EOF &&
                  std::fwrite(frames.Data(), 1, frames.Size(), file) == frames.Size();
  return std::fclose(file) == 0 && ok;
}

// Fills whichever body message holds; the tag constructor gave it a default one.
void Fill(ConnectorMsg& message) {
  const IdTriple ids(11, 22, 33);
  StatInfo stat;
  stat.ids = ids;
  stat.value1 = 1;
  stat.text = "load";
  RegionInfo region;
  region.ids = ids;
  region.values = {5, -5, 0x7FFFFFFF};
  if (auto* body = message.As<Register>()) {
    body->magic = kRegisterMagic;
    body->gsid = 7;
    body->processId = 4660;
    body->nsapList = {Nsap{kConnectorNsapId, 8990}};
    body->exeName = "game";
  } else if (auto* body = message.As<IdValue>()) {
    *body = IdValue{ids, -1};
  } else if (auto* body = message.As<CountsReply>()) {
    body->counts = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  } else if (auto* body = message.As<CheckReply>()) {
    *body = CheckReply{5, 7};
  } else if (auto* body = message.As<StatListReply>()) {
    body->stats = {stat, stat};
  } else if (auto* body = message.As<RegionListReply>()) {
    body->regions = {region};
  } else if (auto* body = message.As<CommandReply>()) {
    *body = CommandReply{7, 1};
  } else if (auto* body = message.As<OrderReply>()) {
    body->name = "name";
    body->ids = ids;
    body->resultText = "done";
    body->argument = "12|x";
  } else if (auto* body = message.As<Warning>()) {
    body->ids = ids;
    body->text = "warm";
    body->extraText = "more";
  } else if (auto* body = message.As<StatListExtra>()) {
    body->stats = {stat};
  } else if (auto* body = message.As<RegionListExtra>()) {
    body->regions = {region, region};
  }
}

void Fill(AgentMsg& message) {
  if (auto* body = message.As<CheckRequest>()) {
    body->value = 5;
  } else if (auto* body = message.As<Command>()) {
    *body = Command{IdTriple(1, 2, 3), "restart"};
  } else if (auto* body = message.As<Order>()) {
    body->serial = 9;
    body->name = "__ISOLATE__";
    body->ids = IdTriple(4, 5, 6);
    body->argument = "12|x";
    body->context = "ctx";
  }
}

template <typename Message>
bool WriteSeeds(const std::string& folder, const char* prefix, BufferPtr& all) {
  for (uint32_t tag = 0; tag < Message::kTagCount; ++tag) {
    Message message{static_cast<typename Message::Tag>(tag)};
    Fill(message);
    BufferPtr frame;
    WriteFrame(frame, message);
    WriteFrame(all, message);
    if (!WriteSeed(folder + "/" + prefix + std::to_string(tag), static_cast<uint8_t>(tag), frame)) {
      return false;
    }
  }
  return true;
}

}  // namespace
}  // namespace vexil

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orvel_fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  vexil::BufferPtr agent_frames;
  vexil::BufferPtr connector_frames;
  if (!vexil::WriteSeeds<vexil::AgentMsg>(folder, "agent_", agent_frames) ||
      !vexil::WriteSeeds<vexil::ConnectorMsg>(folder, "connector_", connector_frames) ||
      !vexil::WriteSeed(folder + "/agent_all", 7, agent_frames) ||
      !vexil::WriteSeed(folder + "/connector_all", 3, connector_frames)) {
    std::perror(folder.c_str());
    return 1;
  }
  return 0;
}
