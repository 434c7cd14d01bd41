// The C interface of the simulated board (sim_c.h) over SimBoard.
#include "sim_c.h"

#include <new>

#include "sim.h"

using voxa_sim::SimBoard;

struct voxa_sim_board {
  std::unique_ptr<SimBoard> board;
  std::string path;
};

namespace {

template <typename F>
auto Guard(F f, decltype(f()) fallback) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    return fallback;
  }
}

voxa_sim_board* Wrap(std::unique_ptr<SimBoard> b) {
  if (!b) return nullptr;
  auto* s = new (std::nothrow) voxa_sim_board;
  if (!s) return nullptr;
  s->path = b->DevicePath();
  s->board = std::move(b);
  return s;
}

std::optional<bool> Tri(int v) {
  if (v < 0) return std::nullopt;
  return v != 0;
}

}  // namespace

extern "C" {

voxa_sim_board* voxa_sim_start_tcp(int port) {
  return Guard([&] { return Wrap(SimBoard::StartTcp(static_cast<uint16_t>(port))); }, static_cast<voxa_sim_board*>(nullptr));
}

voxa_sim_board* voxa_sim_start_pty(void) {
  return Guard([&] { return Wrap(SimBoard::StartPty()); }, static_cast<voxa_sim_board*>(nullptr));
}

void voxa_sim_stop(voxa_sim_board* sim) {
  if (!sim) return;
  Guard([&] { sim->board->Stop(); return 0; }, 0);
  delete sim;
}

int voxa_sim_port(const voxa_sim_board* sim) { return sim ? sim->board->Port() : 0; }
const char* voxa_sim_device_path(const voxa_sim_board* sim) { return sim ? sim->path.c_str() : ""; }
uint32_t voxa_sim_loopback_address(void) { return voxa_sim::LoopbackAddress(); }
int voxa_sim_is_connected(const voxa_sim_board* sim) { return sim && sim->board->IsConnected() ? 1 : 0; }
int voxa_sim_connection_count(const voxa_sim_board* sim) {
  return sim ? static_cast<int>(sim->board->ConnectionCount()) : 0;
}
int voxa_sim_wait_connection(const voxa_sim_board* sim, int count, uint32_t timeout_ms) {
  if (!sim) return 0;
  return Guard([&] { return sim->board->WaitForConnection(static_cast<uint32_t>(count), voxa_sim::Ms(timeout_ms)) ? 1 : 0; }, 0);
}

uint32_t voxa_sim_get_reg(const voxa_sim_board* sim, int reg, int word) { return sim ? sim->board->Reg(reg, word) : 0; }
void voxa_sim_set_reg(voxa_sim_board* sim, int reg, int word, uint32_t value) {
  if (sim) sim->board->SetReg(reg, word, value);
}
int32_t voxa_sim_position(const voxa_sim_board* sim, int axis) { return sim ? sim->board->Position(axis) : 0; }
int voxa_sim_is_idle(const voxa_sim_board* sim) { return sim && sim->board->IsIdle() ? 1 : 0; }
int voxa_sim_wait_idle(const voxa_sim_board* sim, uint32_t timeout_ms) {
  if (!sim) return 0;
  return Guard([&] { return sim->board->WaitIdle(voxa_sim::Ms(timeout_ms)) ? 1 : 0; }, 0);
}
void voxa_sim_set_engine_version(voxa_sim_board* sim, int major, int minor) {
  if (sim) sim->board->SetEngineVersion(major, minor);
}
void voxa_sim_set_heartbeat(voxa_sim_board* sim, int on) {
  if (sim) sim->board->SetHeartbeatReply(on != 0);
}
void voxa_sim_override_busy(voxa_sim_board* sim, int busy) {
  if (sim) sim->board->OverrideBusy(Tri(busy));
}
void voxa_sim_override_waiting(voxa_sim_board* sim, int count) {
  if (sim) sim->board->OverrideWaiting(count < 0 ? std::nullopt : std::optional<int>(count));
}
void voxa_sim_hold_queue(voxa_sim_board* sim, int hold) {
  if (sim) sim->board->HoldQueue(hold != 0);
}
void voxa_sim_set_limit_input(voxa_sim_board* sim, int axis, int lower, int upper) {
  if (sim) sim->board->SetLimitInput(axis, Tri(lower), Tri(upper));
}
void voxa_sim_set_limit_positions(voxa_sim_board* sim, int axis, int enabled, int32_t lo, int32_t hi) {
  if (sim) sim->board->SetLimitPositions(axis, enabled != 0, lo, hi);
}
void voxa_sim_set_home_sensor(voxa_sim_board* sim, int axis, int32_t position) {
  if (sim) sim->board->SetHomeSensor(axis, position);
}

int64_t voxa_sim_frame_count(const voxa_sim_board* sim) {
  return sim ? static_cast<int64_t>(sim->board->FrameCount()) : 0;
}

int64_t voxa_sim_wait_frame(const voxa_sim_board* sim, int code, int64_t from_seq, uint32_t timeout_ms) {
  if (!sim) return -1;
  return Guard(
      [&]() -> int64_t {
        auto f = sim->board->WaitFrame(
            [code](const voxa_sim::RxFrame& fr) { return code < 0 || fr.cmd.code == code; },
            voxa_sim::Ms(timeout_ms), static_cast<uint64_t>(from_seq < 0 ? 0 : from_seq));
        return f ? static_cast<int64_t>(f->seq) : -1;
      },
      static_cast<int64_t>(-1));
}

int voxa_sim_get_frame(const voxa_sim_board* sim, int64_t seq, voxa_sim_frame* out) {
  if (!sim || !out || seq < 0) return 0;
  return Guard(
      [&] {
        auto v = sim->board->Frames(
            [seq](const voxa_sim::RxFrame& f) { return f.seq == static_cast<uint64_t>(seq); },
            static_cast<uint64_t>(seq));
        if (v.empty()) return 0;
        const auto& f = v.front();
        *out = voxa_sim_frame{};
        out->seq = static_cast<int64_t>(f.seq);
        out->time_ms = static_cast<uint32_t>(f.time_ms);
        out->opcode = f.cmd.opcode;
        out->code = f.cmd.code;
        out->kind = static_cast<uint8_t>(f.cmd.kind);
        out->mask = f.cmd.mask;
        out->descriptor = f.cmd.descriptor;
        out->reg = static_cast<int8_t>(f.cmd.reg);
        out->tag = static_cast<int16_t>(f.cmd.tag);
        out->count = f.cmd.count;
        for (int k = 0; k < 8; ++k) out->values[k] = f.cmd.values[k];
        return 1;
      },
      0);
}

void voxa_sim_send_packet(voxa_sim_board* sim, int type, const uint8_t* payload, size_t len) {
  if (!sim) return;
  Guard([&] { sim->board->SendPacket(static_cast<uint8_t>(type), std::vector<uint8_t>(payload, payload + (payload ? len : 0))); return 0; }, 0);
}
void voxa_sim_send_state_packet(voxa_sim_board* sim, int contents) {
  if (sim) sim->board->SendStatePacket(static_cast<uint8_t>(contents));
}
void voxa_sim_inject_raw(voxa_sim_board* sim, const uint8_t* bytes, size_t len) {
  if (!sim || !bytes) return;
  Guard([&] { sim->board->InjectRaw(std::vector<uint8_t>(bytes, bytes + len)); return 0; }, 0);
}

void voxa_sim_drop_connection(voxa_sim_board* sim) {
  if (sim) sim->board->DropConnection();
}
void voxa_sim_drop_after_frames(voxa_sim_board* sim, uint32_t frames) {
  if (sim) sim->board->DropAfterFrames(frames);
}
void voxa_sim_drop_after_ms(voxa_sim_board* sim, uint32_t ms) {
  if (sim) sim->board->DropAfter(voxa_sim::Ms(ms));
}
void voxa_sim_go_silent(voxa_sim_board* sim, uint32_t ms) {
  if (sim) sim->board->GoSilent(voxa_sim::Ms(ms));
}
void voxa_sim_set_corrupt_rate(voxa_sim_board* sim, double rate) {
  if (sim) sim->board->SetCorruptRate(rate);
}
void voxa_sim_set_delay(voxa_sim_board* sim, double rate, uint32_t ms) {
  if (sim) sim->board->SetDelay(rate, voxa_sim::Ms(ms));
}
void voxa_sim_refuse_connections(voxa_sim_board* sim, int mode) {
  if (!sim) return;
  sim->board->RefuseConnections(mode == 1   ? voxa_sim::RefuseMode::kCloseAccepted
                                : mode == 2 ? voxa_sim::RefuseMode::kStopListening
                                            : voxa_sim::RefuseMode::kAccept);
}
void voxa_sim_set_hand_over(voxa_sim_board* sim, int on) {
  if (sim) sim->board->SetHandOver(on != 0);
}
void voxa_sim_set_host_watchdog(voxa_sim_board* sim, uint32_t ms) {
  if (sim) sim->board->SetHostWatchdog(voxa_sim::Ms(ms));
}
int voxa_sim_turned_away_count(const voxa_sim_board* sim) {
  return sim ? static_cast<int>(sim->board->Stats().turned_away) : 0;
}
int voxa_sim_watchdog_stop_count(const voxa_sim_board* sim) {
  return sim ? static_cast<int>(sim->board->Stats().watchdog_stops) : 0;
}
void voxa_sim_flood_state_packets(voxa_sim_board* sim, uint32_t count) {
  if (sim) sim->board->FloodStatePackets(count);
}

}  // extern "C"
