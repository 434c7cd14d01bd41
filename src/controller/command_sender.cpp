#include "controller/command_sender.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "controller/completion_waits.h"
#include "dispatch/dispatch.h"

namespace voxa {

CallSends& ThisCallSends() {
  thread_local CallSends sends;
  return sends;
}

CommandSender::CommandSender(BoardParts& parts, CompletionWaits& waits) : parts_(parts), waits_(waits) {
  std::memset(mode_stack_, kImmediate, sizeof mode_stack_);
  ready_flag_ = soft_queue_.Allocate(SoftQueue::kDefaultCapacity);
}

CommandSender::~CommandSender() { soft_queue_.Free(); }

// ---------------------------------------------------------------- builder

int CommandSender::SendBuilt(const FrameBuffer& f) {
  const uint8_t* stored = &f.bytes[1];
  if (f.bytes[3] & kImmediate) return SendFrameDirect(stored);
  // Without soft-queue storage, queued commands go out directly too.
  const int pushed = PushFrame(f);
  return pushed >= 0 ? pushed : SendFrameDirect(stored);
}

int CommandSender::SendCommand(uint8_t opcode, uint8_t mask, uint8_t tag) {
  if (KindOf(opcode) != OpKind::System && KindOf(opcode) != OpKind::Action)
    return SendRegCommand(opcode, mask, kWidth4, tag);
  return SendRegCommand(opcode, mask, 0, tag);
}

int CommandSender::SendRegCommand(uint8_t opcode, uint8_t mask, uint8_t descriptor, uint8_t tag) {
  if (!parts_.IsOpen()) return 0;
  std::lock_guard<std::mutex> g(build_lock_);
  bool built = false;
  switch (KindOf(opcode)) {
    case OpKind::System: built = BuildSystemCommand(frame_, controller_id_, opcode, tag); break;
    case OpKind::Action: built = BuildActionCommand(frame_, controller_id_, opcode, mask, tag); break;
    case OpKind::ReadRequest:
      built = BuildReadRequest(frame_, controller_id_, opcode, mask, descriptor, tag);
      break;
    case OpKind::RegisterWrite: {
      const int r = ((opcode & 0x7F) - 0x10) >> 1;
      uint32_t values[8];
      {
        platform::Locked s(parts_.StateLock());
        std::memcpy(values, parts_.mirror().Image() + r * kWords, sizeof values);
      }
      built = BuildRegisterWrite(frame_, controller_id_, opcode, mask, descriptor, tag, values);
      break;
    }
  }
  return built ? SendBuilt(frame_) : 0;
}

int CommandSender::SendReadRequest(int immediate, int r, uint8_t mask, uint8_t descriptor, uint8_t tag) {
  const uint8_t opcode = static_cast<uint8_t>(0x10 + 2 * (r & 0x1F) + (immediate ? kImmediate : 0));
  return SendRegCommand(opcode, mask, descriptor, tag);
}

int CommandSender::SendRegWrite(int immediate, int r, uint8_t mask, uint8_t descriptor, uint8_t tag) {
  const uint8_t opcode = static_cast<uint8_t>(0x11 + 2 * (r & 0x1F) + (immediate ? kImmediate : 0));
  return SendRegCommand(opcode, mask, descriptor, tag);
}

// ---------------------------------------------------------------- queue and send

int CommandSender::PushFrame(const FrameBuffer& f) {
  std::lock_guard<std::mutex> g(send_lock_);
  return soft_queue_.Push(&f.bytes[1]);
}

namespace {

// The wire form of a stored frame: start byte, L, id, payload, checksum.
int WireFrame(const uint8_t* stored, uint8_t* wire) {
  const int len = stored[0] & 0x7F;
  wire[0] = kStartByte;
  std::memcpy(wire + 1, stored, static_cast<size_t>(len));
  wire[len + 1] = FrameChecksum(wire, static_cast<size_t>(len) + 1);
  return len + 2;
}

}  // namespace

bool CommandSender::WriteLocked(const uint8_t* wire, int size) {
  Link& link = parts_.link();
  // The whole frame goes into the transmit ring at once, never half of it,
  // and only with a few bytes to spare.
  if (link.Room() <= static_cast<uint32_t>(size) + 2 || !link.Write(wire, static_cast<uint32_t>(size))) return false;
  dispatch::Trace(parts_.BoardIndex(), VOXA_TRACE_SENT, wire, size);
  return true;
}

int CommandSender::PopAndSendFrame() {
  int32_t failure = -1;
  {
    std::lock_guard<std::mutex> g(send_lock_);
    // A frame leaves the queue only when the link can take it: while the link
    // is down or the board does not read, frames wait here, in order.
    Link& link = parts_.link();
    if (!link.IsUp() || link.Room() <= kFrameBufferSize + 6) return 0;
    uint8_t stored[kFrameBufferSize];
    if (soft_queue_.Pop(stored, sizeof stored, &failure) != 0) {
      uint8_t wire[kFrameBufferSize + 1];
      if (!WriteLocked(wire, WireFrame(stored, wire))) return 0;
      parts_.pacer_.FrameSent();
      return 1;
    }
  }
  if (failure >= 0) {
    // Said from the dispatch thread: this is the tick, which a close waits
    // for, and the handler may call any export.
    char text[80];
    std::snprintf(text, sizeof text, "\n QLM207.CmdQueue_SendTxPacket>Error! Pop packecket Size[%d]", failure);
    dispatch::Log(parts_.BoardIndex(), text);
  }
  return 0;
}

void CommandSender::ClearSoftQueue() {
  // Under the send lock, a clear never falls inside a frame's push or pop.
  std::lock_guard<std::mutex> g(send_lock_);
  soft_queue_.Clear();
}

int CommandSender::SendFrameDirect(const uint8_t* stored) {
  uint8_t wire[kFrameBufferSize + 1];
  const int size = WireFrame(stored, wire);

  // An application's call waits a while for room in a full transmit ring
  // (a board that reads slowly, or not at all); the library's own threads
  // never wait here.
  CallSends& call = ThisCallSends();
  const auto deadline = platform::Clock::now() + std::chrono::milliseconds(kSendLimitMs);
  for (;;) {
    Link& link = parts_.link();
    if (call.in_call) link.ArmRoomWait();
    {
      std::lock_guard<std::mutex> g(send_lock_);
      if (WriteLocked(wire, size)) return 1;
    }
    const auto now = platform::Clock::now();
    if (!call.in_call || !parts_.IsOpen() || now >= deadline) {
      if (call.in_call) call.refused = true;
      return 0;
    }
    link.WaitRoom(static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1));
  }
}

// ---------------------------------------------------------------- command mode

uint8_t CommandSender::CommandMode() {
  platform::Locked g(parts_.StateLock());
  return mode_;
}

void CommandSender::SetCommandMode(uint8_t m) {
  platform::Locked g(parts_.StateLock());
  mode_ = m;
}

int CommandSender::ModeStackDepth() {
  platform::Locked g(parts_.StateLock());
  return mode_depth_;
}

void CommandSender::PushMode(uint8_t m) {
  platform::Locked g(parts_.StateLock());
  if (mode_depth_ < kModeStackSize) mode_stack_[mode_depth_++] = m;
}

uint8_t CommandSender::PopMode() {
  platform::Locked g(parts_.StateLock());
  if (mode_depth_ > 0) return mode_stack_[--mode_depth_];
  return 0x77;
}

void CommandSender::EnterQueueCmd() {
  group_lock_.Enter();
  PushMode(CommandMode());
  SetCommandMode(0);
}

void CommandSender::LeaveQueueCmd() {
  const uint8_t m = PopMode();
  SetCommandMode(m);
  if (m == kImmediate) SendCommand(0x8C, 0, kTagSystem);
  group_lock_.Leave();
}

void CommandSender::EnterImCmd() {
  group_lock_.Enter();
  PushMode(CommandMode());
  SetCommandMode(kImmediate);
  SendCommand(0x8C, 0, kTagSystem);
}

void CommandSender::LeaveImCmd() {
  const uint8_t m = PopMode();
  if (m != 0) {
    SetCommandMode(kImmediate);
  } else {
    SendCommand(0x8D, 0, kTagSystem);
    SetCommandMode(0);
  }
  group_lock_.Leave();
}

// ---------------------------------------------------------------- ID and tag

void CommandSender::SetCmdId(uint8_t id) {
  platform::Locked g(parts_.StateLock());
  cmd_id_ = id;
  reg_tag_ = id;
}

uint8_t CommandSender::CmdId() {
  platform::Locked g(parts_.StateLock());
  return cmd_id_;
}

uint8_t CommandSender::RegTag() {
  platform::Locked g(parts_.StateLock());
  return reg_tag_;
}

int CommandSender::WriteRegTagged(int r, uint8_t mask, uint8_t tag) {
  return SendRegWrite(Immediate() ? 1 : 0, r, mask, kWidth4, tag);
}

int CommandSender::ActionTagged(uint8_t code, uint8_t mask, uint8_t tag) {
  if (tag != kNoTag) waits_.NoteIdSent(tag);
  return SendCommand(static_cast<uint8_t>((code & 0x7F) | ImmediateFlag()), mask, tag);
}

int CommandSender::System(uint8_t code, uint8_t tag) {
  return SendCommand(static_cast<uint8_t>((code & 0x7F) | ImmediateFlag()), 0, tag);
}

}  // namespace voxa
