// The command sender of a board: builds frames from the register image, sends
// immediate ones to the link at once and queued ones through the soft queue,
// and keeps the command mode, the command ID and the register-write tag.
#pragma once

#include <cstdint>
#include <mutex>

#include "controller/board_parts.h"
#include "controller/frame.h"
#include "controller/soft_queue.h"
#include "platform/owned_lock.h"

namespace voxa {

class CompletionWaits;

// What the calling application thread's export asks of the link. An
// immediate frame that the link cannot take at once waits for room, up to
// the send limit; a frame still refused then is noted here, and the export
// fails with VOXA_ERR_SEND instead of reporting success.
struct CallSends {
  bool in_call = false;
  bool refused = false;
};
CallSends& ThisCallSends();
constexpr uint32_t kSendLimitMs = 500;

class CommandSender {
 public:
  static constexpr int kModeStackSize = 1024;

  CommandSender(BoardParts& parts, CompletionWaits& waits);
  ~CommandSender();
  CommandSender(const CommandSender&) = delete;
  CommandSender& operator=(const CommandSender&) = delete;

  // ---- the builder: 1 when built and handed on, 0 otherwise ----
  int SendCommand(uint8_t opcode, uint8_t mask, uint8_t tag);
  int SendRegCommand(uint8_t opcode, uint8_t mask, uint8_t descriptor, uint8_t tag);
  int SendReadRequest(int immediate, int r, uint8_t mask, uint8_t descriptor, uint8_t tag);
  int SendRegWrite(int immediate, int r, uint8_t mask, uint8_t descriptor, uint8_t tag);

  // ---- the soft queue and the direct send ----
  int PushFrame(const FrameBuffer& f);
  // One queued frame to the link, when the link can take it.
  int PopAndSendFrame();
  int SendFrameDirect(const uint8_t* stored_frame);  // L, id, payload
  void ClearSoftQueue();
  int AllocateSoftQueue(int32_t size) { return soft_queue_.Allocate(size); }
  SoftQueue& soft_queue() { return soft_queue_; }
  int IsReady() const { return ready_flag_; }

  // ---- the command mode ----
  uint8_t CommandMode();
  bool Immediate() { return CommandMode() == kImmediate; }
  uint8_t ImmediateFlag() { return Immediate() ? kImmediate : 0; }
  void PushMode(uint8_t m);
  uint8_t PopMode();
  // Command groups: the group lock is held from Enter to Leave, so that
  // another thread's commands do not fall inside the group.
  void EnterQueueCmd();
  void LeaveQueueCmd();
  void EnterImCmd();
  void LeaveImCmd();
  void SetCommandMode(uint8_t m);
  int ModeStackDepth();

  // ---- the command ID and the register-write tag ----
  void SetCmdId(uint8_t id);
  uint8_t CmdId();
  uint8_t RegTag();

  // ---- what the families send: everything by the command mode ----
  int WriteReg(int r, uint8_t mask) { return WriteRegTagged(r, mask, RegTag()); }
  int WriteRegTagged(int r, uint8_t mask, uint8_t tag);
  int Action(uint8_t code, uint8_t mask) { return ActionTagged(code, mask, CmdId()); }
  int ActionTagged(uint8_t code, uint8_t mask, uint8_t tag);
  int System(uint8_t code, uint8_t tag);

 private:
  int SendBuilt(const FrameBuffer& f);
  // Hands the whole wire frame to the link; the caller holds the send lock.
  bool WriteLocked(const uint8_t* wire, int size);

  BoardParts& parts_;
  CompletionWaits& waits_;
  uint8_t controller_id_ = 0;
  int ready_flag_ = 0;

  // Lock order: the group lock, the build lock, the send lock; the state
  // lock and the transmit ring's lock may be taken inside any of them.
  //
  // The group lock: held from a group's Enter to its Leave. Re-entrant,
  // because an application nests groups on one thread.
  platform::OwnedLock group_lock_;
  // The build lock: the frame being built, from the image snapshot to its
  // hand-over, so that the last frame sent for a register carries the
  // image's last value.
  std::mutex build_lock_;
  // The send lock: the soft queue's pushes and pops and the link's
  // transmit path, so that a frame goes from the queue to the link whole
  // and in order.
  std::mutex send_lock_;

  FrameBuffer frame_{};  // build lock
  SoftQueue soft_queue_;  // send lock (its storage: set up once)

  uint8_t mode_ = 0;                    // state lock
  uint8_t reg_tag_ = kNoTag;            // state lock
  uint8_t cmd_id_ = kNoTag;             // state lock
  uint8_t mode_stack_[kModeStackSize];  // state lock
  int32_t mode_depth_ = 0;              // state lock
};

}  // namespace voxa
